#pragma once
#include "ui/definition.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>

class QAction;
class QMdiArea;
class QMenu;
class QMenuBar;

namespace ui {

class ToolWindow;

// The frame's menu bar, built from its definition: labels with their access keys
// and trailing blanks as written, help lines for the status bar, check items
// showing the model's marks, and the menu that lists the open windows.
class FrameMenu : public QObject {
    Q_OBJECT
public:
    using HelpLine = std::function<void(const QString&)>;

    FrameMenu(std::shared_ptr<ToolWindow> frame, QMenuBar& bar, QMdiArea& area, HelpLine showHelp,
              std::function<void()> menuClosed, QObject* parent = nullptr);

    void setChecked(int id, bool checked);
    QAction* action(int id) const;

private:
    void addItems(QMenu& menu, const std::vector<MenuItemDef>& items);
    QMenu* makeSubmenu(const MenuItemDef& item, QWidget* parent);
    void watchHover(QAction* action, const std::string& helpLine);
    void listWindows(QMenu& menu);

    std::shared_ptr<ToolWindow> m_frame;
    QMdiArea& m_area;
    HelpLine m_showHelp;
    std::function<void()> m_menuClosed;
    std::map<int, QAction*> m_actions;
    std::vector<QPointer<QAction>> m_windowEntries;
};

} // namespace ui
