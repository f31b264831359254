#include "ui/qt/toolsubwindow.h"

#include <QMdiArea>
#include <algorithm>

#include "ui/qt/formwidget.h"
#include "ui/qt/textedge.h"
#include "ui/toolwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScrollArea>
#include <QStyle>
#include <QStyleOptionTitleBar>

namespace ui {

ToolSubWindow::ToolSubWindow(std::shared_ptr<ToolWindow> window, QWidget* parent)
    : QMdiSubWindow(parent), m_window(std::move(window)), m_form(new FormWidget(m_window, nullptr)),
      m_placement(*this, m_window->model(), m_form->units()) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    // A window placed smaller than its controls need shows part of them, as a
    // clipped dialog would, with scroll bars rather than squeezed fields.
    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(m_form);
    setWidget(scroll);
    const WindowDefinition& def = m_window->definition();
    setWindowTitle(title(def.caption));
    m_placement.setBounds([this] { return areaRect(); }, [this] { return neededSize(); });
    if (def.toolWindowStyle) {
        // A narrow caption: the title bar follows the font it is drawn with, so
        // the subwindow gets a smaller one and the form keeps the usual one.
        QFont small = QApplication::font();
        small.setPointSizeF(small.pointSizeF() * 0.8);
        setFont(small);
        m_form->setFont(QApplication::font());
        setWindowFlags(windowFlags() | Qt::Tool);
    }
    if (!def.resizable) {
        // The window keeps the size it is given; only the person's moves count.
        setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    }
}

ToolSubWindow::~ToolSubWindow() = default;

void ToolSubWindow::applyChanges(const std::vector<QueuedChange>& changes) {
    for (std::size_t i = 0; i < changes.size(); ++i) {
        const Change& c = changes[i].change;
        switch (c.kind) {
        case Change::Kind::RowAppended: {
            // A run of rows for one list goes in with one insertion.
            std::vector<Row> run;
            std::size_t j = i;
            for (; j < changes.size() && changes[j].change.kind == Change::Kind::RowAppended &&
                   changes[j].change.control == c.control;
                 ++j)
                run.push_back(changes[j].change.row);
            m_form->appendRows(c.control, std::move(run));
            i = j - 1;
            break;
        }
        case Change::Kind::Caption:
            setWindowTitle(title(c.text));
            break;
        case Change::Kind::Visible:
            m_hidden = !c.flag;
            setVisible(c.flag);
            break;
        case Change::Kind::Placement:
            m_placement.apply(changes[i].placement);
            break;
        case Change::Kind::Redraw:
            m_form->update();
            break;
        case Change::Kind::Cursor:
            showBusy(c.flag);
            m_form->setBusy(c.flag);
            break;
        case Change::Kind::StatusZone:
        case Change::Kind::MenuChecked:
            break;
        default:
            m_form->applyControlChange(changes[i]);
            break;
        }
    }
    // A display's new text may need more room than the window has: it grows to show
    // it whole, as far as the frame lets it (a window the person made smaller
    // than its controls is left so until a display widens).
    if (m_form->takeWidened() && isVisible() && !isMaximized() && !isMinimized() &&
        width() < sizeHint().width())
        setGeometry(m_placement.fitted(QRect(pos(), QSize(sizeHint().width(), height()))));
}

QString ToolSubWindow::title(const std::string& caption) const {
    return textedge::toQt(shownTitle(caption, m_window->definition(), m_window->procedure()));
}

QString ToolSubWindow::listedTitle() const {
    return textedge::toQt(ui::listedTitle(m_window->model().caption(), m_window->definition(),
                                          m_window->procedure()));
}

QRect ToolSubWindow::areaRect() const {
    const QMdiArea* area = mdiArea();
    if (!area || !area->isVisible()) return {};
    return QRect(QPoint(0, 0), area->viewport()->size());
}

QSize ToolSubWindow::neededSize() const {
    return sizeHint();
}

int ToolSubWindow::captionHeight() const {
    // Measured where the contents start, once laid out; until then from the style,
    // which sizes the caption by the window's own font.
    QStyleOptionTitleBar option;
    option.initFrom(this);
    option.titleBarFlags = windowFlags();
    const int fromStyle = style()->pixelMetric(QStyle::PM_TitleBarHeight, &option, this) +
                          style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, this);
    return std::max(widget() ? widget()->y() : 0, fromStyle);
}

void ToolSubWindow::arrange(const QRect& rect) {
    if (isMinimized()) return;
    m_placement.arrange(rect);
}

void ToolSubWindow::focusFirstEntry() {
    if (QMdiArea* area = mdiArea()) area->setActiveSubWindow(this);
    const int wanted = m_window->model().focus();
    QWidget* target = wanted != 0 ? m_form->controlWidget(wanted) : nullptr;
    if (!target) target = m_form->firstEntry();
    if (target) target->setFocus(Qt::ActiveWindowFocusReason);
}

void ToolSubWindow::showBusy(bool busy) {
    // Over the whole subwindow, caption and controls included: the tool's thread is
    // busy and the window will not answer until it is done. Controls with a cursor
    // of their own (text fields) get the busy one for that time as well.
    for (auto& [widget, own] : m_ownCursors)
        if (widget) widget->setCursor(own);
    m_ownCursors.clear();
    if (!busy) {
        unsetCursor();
        return;
    }
    for (QWidget* w : findChildren<QWidget*>())
        if (w->testAttribute(Qt::WA_SetCursor)) m_ownCursors.emplace_back(w, w->cursor());
    for (auto& [widget, own] : m_ownCursors) widget->setCursor(Qt::WaitCursor);
    setCursor(Qt::WaitCursor);
}

void ToolSubWindow::showFirstTime() {
    if (!m_hidden) show();
    // Applied after the first show, which sizes a new subwindow to its hint and
    // places it where the area likes.
    const Placement p = m_window->model().placement();
    const WindowDefinition& def = m_window->definition();
    const bool asDefined = p.x == def.x && p.y == def.y && p.width == def.width &&
                           p.height == def.height && !p.minimized && p.maximized == def.maximized;
    if (asDefined && !p.maximized) {
        // Opened for the first time: the area puts it where it covers the fewest
        // windows (every tool shares the same default corner), and it is at least
        // large enough to show all its controls.
        const QSize size = m_form->units().toPixels(p).size().expandedTo(sizeHint());
        setGeometry(m_placement.fitted(QRect(freeSpot(size), size)));
        m_placement.setEnabled(true);
        m_placement.record();
    } else {
        // Restored from the settings file: where the person left it, as far as
        // it fits in the frame's client area as it is now.
        m_placement.apply(p);
        m_placement.setEnabled(true);
    }
    if (!m_hidden) focusFirstEntry();
}

QPoint ToolSubWindow::freeSpot(const QSize& size) const {
    // Beside or below the windows already open, where it fits in the area and
    // covers none of them (the windows the frame opens at start stand side by
    // side); failing that, cascaded.
    const QMdiArea* area = mdiArea();
    if (!area) return {};
    const QRect room(QPoint(0, 0), area->viewport()->size());
    std::vector<QRect> taken;
    for (const QMdiSubWindow* w : area->subWindowList())
        if (w != this && w->isVisible() && !w->isMinimized()) taken.push_back(w->geometry());
    std::vector<QPoint> spots{QPoint(0, 0)};
    for (const QRect& r : taken) {
        spots.emplace_back(r.right() + 1, r.top());
        spots.emplace_back(r.left(), r.bottom() + 1);
    }
    // Nearest the top first, then the left: rows fill before the next begins.
    std::sort(spots.begin(), spots.end(), [](const QPoint& a, const QPoint& b) {
        return a.y() != b.y() ? a.y() < b.y() : a.x() < b.x();
    });
    for (const QPoint& spot : spots) {
        const QRect rect(spot, size);
        if (room.contains(rect) && std::none_of(taken.begin(), taken.end(),
                                                [&](const QRect& r) { return r.intersects(rect); }))
            return spot;
    }
    return freeCascadeSpot();
}

QPoint ToolSubWindow::freeCascadeSpot() const {
    // Down and to the right of the windows that already stand in the corner, as a
    // cascade would put it, so a new window never hides one exactly; one step
    // shows the caption of the window underneath whole.
    const QMdiArea* area = mdiArea();
    const int step = captionHeight();
    QPoint at(0, 0);
    if (!area) return at;
    const auto others = area->subWindowList();
    for (int i = 0; i < others.size(); ++i) {
        const bool taken = std::any_of(others.begin(), others.end(), [&](const QMdiSubWindow* w) {
            return w != this && w->isVisible() && w->pos() == at;
        });
        if (!taken) break;
        at += QPoint(step, step);
    }
    return at;
}

void ToolSubWindow::release() {
    m_released = true;
    m_placement.setEnabled(false);
    close();
    deleteLater();
}

void ToolSubWindow::closeEvent(QCloseEvent* event) {
    if (m_released) {
        QMdiSubWindow::closeEvent(event);
        return;
    }
    // The tool decides: its close handler runs on its thread, and the framework
    // tells us when the window is gone.
    m_window->postClose();
    event->ignore();
}

void ToolSubWindow::moveEvent(QMoveEvent* event) {
    QMdiSubWindow::moveEvent(event);
    m_placement.record();
}

void ToolSubWindow::resizeEvent(QResizeEvent* event) {
    QMdiSubWindow::resizeEvent(event);
    m_placement.record();
}

void ToolSubWindow::changeEvent(QEvent* event) {
    QMdiSubWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) m_placement.record();
}

} // namespace ui
