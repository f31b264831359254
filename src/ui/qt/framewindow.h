#pragma once
#include "ui/definition.h"
#include "ui/qt/windowview.h"

#include <QMainWindow>
#include <QPointer>
#include <memory>
#include <vector>

class QLabel;
class QMdiArea;
class QPrinter;

namespace ui {

class FrameMenu;
class HelpViewer;
class PlacementRecorder;
class ToolSubWindow;
class ToolWindow;

// The main window: the MDI area every tool window opens in and, once the frame
// window has opened, its caption, menu bar and status bar. Closing it asks the
// frame; the program ends when the framework says every window has closed.
class FrameWindow : public QMainWindow, public WindowView {
    Q_OBJECT
public:
    FrameWindow();
    ~FrameWindow() override;

    void attachFrame(std::shared_ptr<ToolWindow> frame);
    // The frame window has closed; the tool windows are closing after it.
    void detachFrame();
    void addToolWindow(ToolSubWindow* sub);
    void applyChanges(const std::vector<QueuedChange>& changes) override;
    void standardAction(StandardAction action);

    QMdiArea* mdiArea() const { return m_area; }
    FrameMenu* frameMenu() const { return m_menu; }
    QLabel* statusZone(int zone) const;
    void showHelpLine(const QString& text);
    // Zone 1 when no menu item is highlighted: the active window's one-line
    // description (the frame's own when no tool window is active).
    QString zoneOneText() const;
    void arrangeIcons();
    // Window > Tile and Cascade: no window below the size its controls need.
    void tile();
    void cascade();

protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildStatusBar(int zones);
    void showZoneOne();
    // Moves and shrinks the frame back onto the screen, its own frame included,
    // once the window system has said how large that frame is.
    void keepOnScreen();
    // The screen's room for the frame (where it may be placed), in global pixels.
    QRect screenRoom() const;
    void setZone(int zone, const QString& text);
    void editAction(StandardAction action);
    void showHelp(StandardAction action);

    QMdiArea* m_area = nullptr;
    std::shared_ptr<ToolWindow> m_frame;
    FrameMenu* m_menu = nullptr;
    std::vector<QLabel*> m_zones;
    std::vector<QString> m_zoneTexts; // what the frame wrote, under any help line
    std::unique_ptr<PlacementRecorder> m_placement;
    std::unique_ptr<QPrinter> m_printer;
    QPointer<HelpViewer> m_help;
    bool m_frameClosed = false;
};

} // namespace ui
