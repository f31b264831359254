#include "ui/qt/listview.h"

#include "ui/listtext.h"
#include "ui/qt/rowtablemodel.h"
#include "ui/qt/textedge.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>
#include <cmath>

namespace ui {

ListView::ListView(std::vector<ColumnDef> columns, const DialogUnits& units, QWidget* parent)
    : QTreeView(parent), m_columns(std::move(columns)), m_units(units),
      m_rows(new RowTableModel(m_columns, this)) {
    setModel(m_rows);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    // Every row is one line: the view need not measure thousands of them.
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The last column is widened by hand to the room left (sizeColumns), never
    // narrowed below what it declares: a narrow window scrolls it instead.
    header()->setStretchLastSection(false);
    header()->setVisible(m_rows->hasHeadings());
    // The focus and the selection mark the whole row, as the rows are read.
    setAllColumnsShowFocus(true);
    sizeColumns();

    // Following the newest row: rows added while the last one is in view, and the
    // person's scrolling to the end, make the list follow; every growth of the
    // range, whenever the view gets round to laying itself out, then moves it to
    // its end. Rows that fill it before it is seen, or while its window is busy,
    // leave it at its first row. A list whose rows are replaced starts over at the top.
    QScrollBar* bar = verticalScrollBar();
    connect(m_rows, &QAbstractItemModel::modelReset, this, [this, bar] {
        m_follow = false;
        m_scrolling = true;
        bar->setValue(0);
        m_scrolling = false;
    });
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) {
        if (!m_scrolling) m_follow = value >= bar->maximum();
    });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (!m_follow) return;
        m_scrolling = true;
        bar->setValue(maximum);
        m_scrolling = false;
    });
}

int ListView::neededColumnWidth(const ColumnDef& column, int unitsInPixels, const QFont& font,
                                int cellMargins) {
    if (column.chars <= 0) return unitsInPixels;
    const QFontMetrics metrics(font);
    static const QString letters =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const double average = static_cast<double>(metrics.horizontalAdvance(letters)) / letters.size();
    const int digits = metrics.horizontalAdvance(QString(column.chars, QLatin1Char('0')));
    const int text = std::max(digits, static_cast<int>(std::ceil(average * column.chars)));
    return std::max(unitsInPixels, text + cellMargins);
}

void ListView::sizeColumns() {
    // A cell's text stands inside the focus frame's margin on either side.
    const int margins = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1);
    int used = 0;
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        int width =
            neededColumnWidth(m_columns[i], m_units.toPixelsX(m_columns[i].width), font(), margins);
        // The last column takes the room the window has (a name, a log line).
        if (i + 1 == m_columns.size()) width = std::max(width, viewport()->width() - used);
        setColumnWidth(static_cast<int>(i), width);
        used += width;
    }
}

void ListView::resizeEvent(QResizeEvent* event) {
    QTreeView::resizeEvent(event);
    sizeColumns();
}

void ListView::appendRows(std::vector<Row> rows) {
    if (rows.empty()) return;
    const QScrollBar* bar = verticalScrollBar();
    if (!m_follow && isVisible() && !m_busy && bar->value() >= bar->maximum()) m_follow = true;
    if (m_busy) m_follow = false;
    m_rows->appendRows(std::move(rows));
}

void ListView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    QScrollBar* sideways = horizontalScrollBar();
    const int x = sideways->value();
    QTreeView::scrollTo(index, hint);
    sideways->setValue(x);
}

void ListView::changeEvent(QEvent* event) {
    QTreeView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) sizeColumns();
}

std::vector<Row> ListView::selectedRows() const {
    std::vector<int> numbers;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        numbers.push_back(index.row());
    std::sort(numbers.begin(), numbers.end());
    std::vector<Row> out;
    out.reserve(numbers.size());
    for (int n : numbers)
        out.push_back(m_rows->row(n));
    return out;
}

QString ListView::selectedMeaning() const {
    const QModelIndex current = currentIndex();
    if (!current.isValid() || !selectionModel()->isRowSelected(current.row())) return {};
    return m_rows->rowMeaning(current.row());
}

QString ListView::selectedText() const {
    return QString::fromStdString(listText(selectedRows()));
}

void ListView::copySelection() const {
    const QString text = selectedText();
    if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

bool ListView::saveTo(const QString& file) const {
    const std::string text = listText(m_rows->allRows());
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    const bool written = out.write(text.data(), static_cast<qint64>(text.size())) ==
                         static_cast<qint64>(text.size());
    out.close();
    return written && out.error() == QFileDevice::NoError;
}

void ListView::saveAs() {
    auto* dialog = new QFileDialog(this, tr("Save list as"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilters({tr("Text files (*.txt)"), tr("All files (*)")});
    dialog->setDefaultSuffix(QStringLiteral("txt"));
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& file) {
        if (!saveTo(file))
            QMessageBox::warning(this, tr("Save list as"), tr("Cannot write %1").arg(file));
    });
    dialog->open();
}

void ListView::keyPressEvent(QKeyEvent* event) {
    // The view's own copy takes the current cell only; a list copies its rows.
    if (event == QKeySequence::Copy) {
        copySelection();
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

QMenu* ListView::contextMenu() {
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* copy = menu->addAction(tr("&Copy"), this, &ListView::copySelection);
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(selectionModel()->hasSelection());
    QAction* all = menu->addAction(tr("Select &all"), this, &QAbstractItemView::selectAll);
    all->setShortcut(QKeySequence::SelectAll);
    menu->addSeparator();
    menu->addAction(tr("Save list as..."), this, &ListView::saveAs);
    return menu;
}

void ListView::contextMenuEvent(QContextMenuEvent* event) {
    contextMenu()->popup(event->globalPos());
    event->accept();
}

} // namespace ui
