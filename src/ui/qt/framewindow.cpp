#include "ui/qt/framewindow.h"

#include "ui/qt/dialogunits.h"
#include "ui/qt/framemenu.h"
#include "ui/qt/helpviewer.h"
#include "ui/qt/listview.h"
#include "ui/qt/placementrecorder.h"
#include "ui/qt/textedge.h"
#include "ui/qt/toolsubwindow.h"
#include "ui/toolwindow.h"

#include "platform/text.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPageSetupDialog>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <cmath>

namespace ui {

FrameWindow::FrameWindow() : m_area(new QMdiArea(this)) {
    setCentralWidget(m_area);
    setWindowTitle(QStringLiteral("WS"));
    // A first size that fits the screen, whatever its scaling.
    resize(QSize(800, 560).boundedTo(screenRoom().size()));
    connect(m_area, &QMdiArea::subWindowActivated, this, [this] { showZoneOne(); });
    // Zone 1 explains a selected error row only while its list has the focus.
    connect(qApp, &QApplication::focusChanged, this, [this] { showZoneOne(); });
}

FrameWindow::~FrameWindow() {
    // The area tells of activations while its windows go with it; by then there is
    // no frame left to show them.
    disconnect(m_area, nullptr, this, nullptr);
    disconnect(qApp, nullptr, this, nullptr);
}

void FrameWindow::attachFrame(std::shared_ptr<ToolWindow> frame) {
    m_frame = std::move(frame);
    m_frameClosed = false;
    const WindowDefinition& def = m_frame->definition();
    setWindowTitle(textedge::toQt(shownTitle(def.caption, def, m_frame->procedure())));
    m_menu = new FrameMenu(
        m_frame, *menuBar(), *m_area, [this](const QString& text) { showHelpLine(text); },
        [this] { showZoneOne(); }, this);
    // The bar takes its access keys (Alt and a menu's letter) as it lays out its
    // entries, which it would otherwise leave until it is next painted: a key
    // typed at once would be lost.
    menuBar()->show();
    (void)menuBar()->sizeHint();
    buildStatusBar(def.statusZones);
    showZoneOne();
    // The background is optional decoration: without the file the area stays plain.
    const QString background = textedge::toQt(def.background);
    if (!background.isEmpty() && QFile::exists(background)) {
        const QPixmap image(background);
        if (!image.isNull()) m_area->setBackground(QBrush(image));
    }
    m_placement = std::make_unique<PlacementRecorder>(*this, m_frame->model(), DialogUnits(font()));
    m_placement->setBounds([this] { return screenRoom(); }, [] { return QSize(0, 0); });
}

QRect FrameWindow::screenRoom() const {
    const QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!shown) return {};
    // The frame is placed by its outer corner with its inner size: the window
    // manager's frame around it stays on the screen as well.
    const QSize frame = isVisible() ? frameGeometry().size() - geometry().size() : QSize();
    return shown->availableGeometry().adjusted(0, 0, -frame.width(), -frame.height());
}

void FrameWindow::detachFrame() {
    m_frameClosed = true;
    if (m_placement) m_placement->setEnabled(false);
}

void FrameWindow::buildStatusBar(int zones) {
    for (QLabel* z : m_zones)
        delete z;
    m_zones.clear();
    m_zoneTexts.assign(static_cast<std::size_t>(std::max(zones, 0)), QString());
    const DialogUnits units(font());
    for (int i = 0; i < zones; ++i) {
        auto* label = new QLabel(statusBar());
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        // The first zone takes the help lines and whatever room is left; the
        // others fit a date ("Wednesday, September 30, 2026") and a time.
        if (i == 0) {
            statusBar()->addWidget(label, 1);
        } else {
            label->setMinimumWidth(units.charsWidth(i == 1 ? 28 : 9));
            statusBar()->addWidget(label, 0);
        }
        m_zones.push_back(label);
    }
}

QLabel* FrameWindow::statusZone(int zone) const {
    if (zone < 1 || zone > static_cast<int>(m_zones.size())) return nullptr;
    return m_zones[static_cast<std::size_t>(zone - 1)];
}

void FrameWindow::setZone(int zone, const QString& text) {
    if (QLabel* label = statusZone(zone)) label->setText(text);
}

void FrameWindow::showHelpLine(const QString& text) {
    setZone(1, text);
}

QString FrameWindow::zoneOneText() const {
    if (const auto* sub = qobject_cast<const ToolSubWindow*>(m_area->activeSubWindow())) {
        // A selected log row that names an error says here what it means.
        if (const auto* list = qobject_cast<const ListView*>(QApplication::focusWidget());
            list && sub->isAncestorOf(list))
            if (QString meaning = list->selectedMeaning(); !meaning.isEmpty()) return meaning;
        return textedge::toQt(text::trimRight(sub->window().definition().description));
    }
    if (!m_zoneTexts.empty() && !m_zoneTexts[0].isEmpty()) return m_zoneTexts[0];
    return m_frame ? textedge::toQt(text::trimRight(m_frame->definition().description)) : QString();
}

void FrameWindow::showZoneOne() {
    // While a menu is open, its highlighted item's help line stays.
    if (qobject_cast<QMenu*>(QApplication::activePopupWidget())) return;
    setZone(1, zoneOneText());
}

void FrameWindow::addToolWindow(ToolSubWindow* sub) {
    m_area->addSubWindow(sub);
    for (ListView* list : sub->findChildren<ListView*>()) {
        connect(list->selectionModel(), &QItemSelectionModel::currentChanged, this,
                [this] { showZoneOne(); });
        connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                [this] { showZoneOne(); });
    }
}

void FrameWindow::applyChanges(const std::vector<QueuedChange>& changes) {
    for (const QueuedChange& q : changes) {
        const Change& c = q.change;
        switch (c.kind) {
        case Change::Kind::Caption:
            setWindowTitle(textedge::toQt(c.text));
            break;
        case Change::Kind::StatusZone:
            if (c.column >= 1 && c.column <= static_cast<int>(m_zoneTexts.size())) {
                m_zoneTexts[static_cast<std::size_t>(c.column - 1)] = textedge::toQt(c.text);
                if (c.column == 1)
                    showZoneOne();
                else
                    setZone(c.column, textedge::toQt(c.text));
            }
            break;
        case Change::Kind::MenuChecked:
            if (m_menu) m_menu->setChecked(c.control, c.flag);
            break;
        case Change::Kind::Visible:
            setVisible(c.flag);
            break;
        case Change::Kind::Placement:
            if (m_placement) m_placement->apply(q.placement);
            break;
        case Change::Kind::Redraw:
            update();
            break;
        default:
            break; // the frame has no controls of its own
        }
    }
    if (m_placement && isVisible()) m_placement->setEnabled(true);
}

void FrameWindow::standardAction(StandardAction action) {
    switch (action) {
    case StandardAction::Cut:
    case StandardAction::Copy:
    case StandardAction::Paste:
        editAction(action);
        break;
    case StandardAction::Tile:
        tile();
        break;
    case StandardAction::Cascade:
        cascade();
        break;
    case StandardAction::ArrangeIcons:
        arrangeIcons();
        break;
    case StandardAction::PrintSetup: {
        if (!m_printer) m_printer = std::make_unique<QPrinter>();
        auto* dialog = new QPageSetupDialog(m_printer.get(), this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->open();
        break;
    }
    case StandardAction::HelpContents:
    case StandardAction::HelpSearch:
    case StandardAction::HelpOnHelp:
        showHelp(action);
        break;
    case StandardAction::None:
        break;
    }
}

void FrameWindow::editAction(StandardAction action) {
    // The menu does not take the focus, so the focused field is the one the
    // person was working in.
    QWidget* focus = QApplication::focusWidget();
    if (auto* line = qobject_cast<QLineEdit*>(focus)) {
        if (action == StandardAction::Cut && !line->isReadOnly()) line->cut();
        if (action == StandardAction::Copy) line->copy();
        if (action == StandardAction::Paste && !line->isReadOnly()) line->paste();
    } else if (auto* text = qobject_cast<QPlainTextEdit*>(focus)) {
        if (action == StandardAction::Cut) text->cut();
        if (action == StandardAction::Copy) text->copy();
        if (action == StandardAction::Paste) text->paste();
    } else if (auto* list = qobject_cast<ListView*>(focus)) {
        // A list is read, not edited: it copies its selected rows.
        if (action == StandardAction::Copy) list->copySelection();
    }
}

namespace {

// The tool windows that Tile and Cascade arrange: those shown and not minimised.
std::vector<ToolSubWindow*> arrangeable(QMdiArea& area, QMdiArea::WindowOrder order) {
    std::vector<ToolSubWindow*> out;
    for (QMdiSubWindow* sub : area.subWindowList(order))
        if (auto* tool = qobject_cast<ToolSubWindow*>(sub);
            tool && tool->isVisible() && !tool->isMinimized())
            out.push_back(tool);
    return out;
}

} // namespace

void FrameWindow::tile() {
    // A grid of equal cells over the client area, a window to a cell; a window
    // whose controls need more than its cell keeps what they need (it overlaps
    // its neighbour rather than hiding its own fields, and stays inside the
    // area where it fits), and one that cannot be resized keeps its size.
    const std::vector<ToolSubWindow*> windows = arrangeable(*m_area, QMdiArea::CreationOrder);
    if (windows.empty()) return;
    const QSize area = m_area->viewport()->size();
    const int count = static_cast<int>(windows.size());
    const int columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count))));
    const int rows = (count + columns - 1) / columns;
    for (int i = 0; i < count; ++i) {
        ToolSubWindow* w = windows[static_cast<std::size_t>(i)];
        const int column = i % columns, row = i / columns;
        const int left = area.width() * column / columns;
        const int top = area.height() * row / rows;
        QSize size(area.width() * (column + 1) / columns - left,
                   area.height() * (row + 1) / rows - top);
        size = w->window().definition().resizable ? size.expandedTo(w->neededSize()) : w->size();
        // Larger than its cell, it moves back into the area rather than out of it.
        const QPoint at(std::min(left, std::max(0, area.width() - size.width())),
                        std::min(top, std::max(0, area.height() - size.height())));
        w->arrange(QRect(at, size));
    }
}

void FrameWindow::cascade() {
    // Each window a caption's height below and to the right of the one before, so
    // every caption stays readable; the active window ends on top. Windows keep
    // their sizes, grown only to what their controls need.
    const std::vector<ToolSubWindow*> windows = arrangeable(*m_area, QMdiArea::StackingOrder);
    const QSize area = m_area->viewport()->size();
    QPoint at(0, 0);
    for (ToolSubWindow* w : windows) {
        const int step = w->captionHeight();
        if (at.y() > 0 && at.y() + step > area.height()) at = QPoint(at.x() % step + step / 2, 0);
        QSize size = w->size();
        if (w->window().definition().resizable) size = size.expandedTo(w->neededSize());
        w->arrange(QRect(at, size));
        w->raise();
        at += QPoint(step, step);
    }
}

void FrameWindow::arrangeIcons() {
    // Minimised windows in a row along the bottom of the area, left to right,
    // wrapping upwards when a row is full.
    const QSize area = m_area->viewport()->size();
    int x = 0, y = area.height();
    for (QMdiSubWindow* sub : m_area->subWindowList(QMdiArea::CreationOrder)) {
        if (!sub->isMinimized() || !sub->isVisible()) continue;
        const QSize icon = sub->size();
        if (x > 0 && x + icon.width() > area.width()) {
            x = 0;
            y -= icon.height();
        }
        if (x == 0 && y == area.height()) y -= icon.height();
        sub->move(x, y);
        x += icon.width();
    }
}

void FrameWindow::showHelp(StandardAction action) {
    if (!m_help) m_help = new HelpViewer(this);
    if (action == StandardAction::HelpSearch)
        m_help->showSearch();
    else if (action == StandardAction::HelpOnHelp)
        m_help->showPage(QStringLiteral("viewer.html"));
    else
        m_help->showContents();
}

void FrameWindow::closeEvent(QCloseEvent* event) {
    if (m_frame && !m_frameClosed) {
        // The frame decides: its close handler saves the settings and closes the
        // tools; the program ends when the last window has gone.
        m_frame->postClose();
        event->ignore();
        return;
    }
    if (!m_frame) {
        // No frame to ask (a host for tool windows alone): the windows decide.
        for (QMdiSubWindow* sub : m_area->subWindowList())
            sub->close();
        event->ignore();
        return;
    }
    event->ignore();
}

void FrameWindow::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    if (m_placement) m_placement->record();
}

void FrameWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (m_placement) m_placement->record();
}

void FrameWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The window's frame is known only once it is on the screen.
    QTimer::singleShot(0, this, [this] { keepOnScreen(); });
}

void FrameWindow::keepOnScreen() {
    if (!m_placement || (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized))) return;
    const QRect now = m_placement->placed();
    if (const QRect fitted = m_placement->fitted(now); fitted != now) m_placement->place(fitted);
}

void FrameWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && m_placement) m_placement->record();
}

} // namespace ui
