#include "ui/qt/framemenu.h"

#include "ui/qt/textedge.h"
#include "ui/qt/toolsubwindow.h"
#include "ui/toolwindow.h"

#include <QAction>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>

namespace ui {

FrameMenu::FrameMenu(std::shared_ptr<ToolWindow> frame, QMenuBar& bar, QMdiArea& area,
                     HelpLine showHelp, std::function<void()> menuClosed, QObject* parent)
    : QObject(parent), m_frame(std::move(frame)), m_area(area), m_showHelp(std::move(showHelp)),
      m_menuClosed(std::move(menuClosed)) {
    for (const MenuItemDef& item : m_frame->definition().menu) {
        if (item.separator) {
            bar.addSeparator();
        } else if (item.items.empty() && !item.windowList) {
            // A command straight on the bar.
            QAction* a = bar.addAction(textedge::toQt(item.label));
            watchHover(a, item.helpLine);
            const int id = item.id;
            connect(a, &QAction::triggered, this, [this, id] { m_frame->postMenu(id); });
            m_actions[id] = a;
        } else {
            QMenu* menu = makeSubmenu(item, &bar);
            bar.addMenu(menu);
            // The help line belongs to the open menu only; when it closes, the zone
            // shows again what the frame wrote there.
            connect(menu, &QMenu::aboutToHide, this, [this] {
                if (m_menuClosed) m_menuClosed();
            });
        }
    }
}

QMenu* FrameMenu::makeSubmenu(const MenuItemDef& item, QWidget* parent) {
    auto* menu = new QMenu(textedge::toQt(item.label), parent);
    watchHover(menu->menuAction(), item.helpLine);
    addItems(*menu, item.items);
    if (item.windowList) {
        connect(menu, &QMenu::aboutToShow, this, [this, menu] { listWindows(*menu); });
    }
    return menu;
}

void FrameMenu::addItems(QMenu& menu, const std::vector<MenuItemDef>& items) {
    for (const MenuItemDef& item : items) {
        if (item.separator) {
            menu.addSeparator();
            continue;
        }
        if (!item.items.empty() || item.windowList) {
            menu.addMenu(makeSubmenu(item, &menu));
            continue;
        }
        QAction* a = menu.addAction(textedge::toQt(item.label));
        watchHover(a, item.helpLine);
        const int id = item.id;
        if (item.checkItem) {
            a->setCheckable(true);
            a->setChecked(m_frame->model().menuChecked(id));
        }
        connect(a, &QAction::triggered, this, [this, a, id] {
            // The mark is the frame's to set: Qt flipped it already, so it goes
            // back until the frame's change arrives.
            if (a->isCheckable()) a->setChecked(m_frame->model().menuChecked(id));
            m_frame->postMenu(id);
        });
        m_actions[id] = a;
    }
}

void FrameMenu::watchHover(QAction* action, const std::string& helpLine) {
    const QString text = textedge::toQt(helpLine);
    connect(action, &QAction::hovered, this, [this, text] {
        if (m_showHelp) m_showHelp(text);
    });
}

void FrameMenu::listWindows(QMenu& menu) {
    for (const QPointer<QAction>& a : m_windowEntries)
        if (a) {
            menu.removeAction(a);
            a->deleteLater();
        }
    m_windowEntries.clear();
    const QList<QMdiSubWindow*> windows = m_area.subWindowList(QMdiArea::CreationOrder);
    int number = 0;
    for (QMdiSubWindow* sub : windows) {
        if (!sub->isVisible() && !sub->isMinimized()) continue;
        if (number == 0) m_windowEntries.push_back(menu.addSeparator());
        ++number;
        // The caption alone may not tell which tool a window is.
        const auto* tool = qobject_cast<const ToolSubWindow*>(sub);
        QString label = tool ? tool->listedTitle() : sub->windowTitle();
        label.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction* a = menu.addAction(
            number < 10 ? QStringLiteral("&%1 %2").arg(number).arg(label) : label);
        a->setCheckable(true);
        a->setChecked(sub == m_area.activeSubWindow());
        QPointer<QMdiSubWindow> target(sub);
        connect(a, &QAction::triggered, this, [this, target] {
            if (!target) return;
            if (target->isMinimized()) target->showNormal();
            m_area.setActiveSubWindow(target);
        });
        m_windowEntries.push_back(a);
    }
}

void FrameMenu::setChecked(int id, bool checked) {
    if (QAction* a = action(id)) a->setChecked(checked);
}

QAction* FrameMenu::action(int id) const {
    auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

} // namespace ui
