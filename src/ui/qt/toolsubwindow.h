#pragma once
#include "ui/qt/placementrecorder.h"
#include "ui/qt/windowview.h"

#include <QCursor>
#include <QMdiSubWindow>
#include <QPointer>
#include <memory>
#include <utility>
#include <vector>

namespace ui {

class FormWidget;
class ToolWindow;

// One tool window inside the frame: its form in an MDI subwindow. Closing it
// asks the tool; the subwindow goes only when the framework says the window
// has closed.
class ToolSubWindow : public QMdiSubWindow, public WindowView {
    Q_OBJECT
public:
    explicit ToolSubWindow(std::shared_ptr<ToolWindow> window, QWidget* parent = nullptr);
    ~ToolSubWindow() override;

    void applyChanges(const std::vector<QueuedChange>& changes) override;
    // Shown once its first changes are in, so it opens where the model says,
    // inside the frame's client area, with the focus in its first entry.
    void showFirstTime();
    // Where a newly opened window of `size` goes: where it covers no other, else
    // where it covers none exactly.
    QPoint freeSpot(const QSize& size) const;
    QPoint freeCascadeSpot() const;
    // The size that shows all its controls.
    QSize neededSize() const;
    // How far down its contents start: its caption and frame.
    int captionHeight() const;
    // Geometry given by the frame's Tile or Cascade (not saved as its size).
    void arrange(const QRect& rect);
    // Activates the window and puts the focus where the tool wants it, else in
    // its first entry.
    void focusFirstEntry();
    // The window has closed: the subwindow may go now.
    void release();

    // Its name in the frame's window list: the tool's name before its caption.
    QString listedTitle() const;

    FormWidget* form() const { return m_form; }
    ToolWindow& window() const { return *m_window; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QString title(const std::string& caption) const;
    // The frame's client area, in the coordinates the window is placed in.
    QRect areaRect() const;
    void showBusy(bool busy);

    std::shared_ptr<ToolWindow> m_window;
    FormWidget* m_form = nullptr;
    PlacementRecorder m_placement;
    bool m_hidden = false;
    bool m_released = false;
    // Controls' own cursors, kept while the busy cursor covers them.
    std::vector<std::pair<QPointer<QWidget>, QCursor>> m_ownCursors;
};

} // namespace ui
