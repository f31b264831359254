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
    header()->setStretchLastSection(m_columns.size() <= 1);
    header()->setVisible(m_rows->hasHeadings());
    sizeColumns();

    // Following the newest row: the person's scrolling decides whether the list
    // follows (it does while the bar stands at its end), and every growth of the
    // range, whenever the view gets round to laying itself out, moves a following
    // list to its end. So a list filled before it was first shown starts at its
    // newest row too.
    QScrollBar* bar = verticalScrollBar();
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
    for (std::size_t i = 0; i < m_columns.size(); ++i)
        setColumnWidth(static_cast<int>(i),
                       neededColumnWidth(m_columns[i], m_units.toPixelsX(m_columns[i].width),
                                         font(), margins));
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
