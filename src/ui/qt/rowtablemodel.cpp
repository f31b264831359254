#include "ui/qt/rowtablemodel.h"

#include "net/winsockerror.h"
#include "ui/qt/textedge.h"

#include <QBrush>
#include <algorithm>

namespace ui {

RowTableModel::RowTableModel(const std::vector<ColumnDef>& columns, QObject* parent)
    : QAbstractTableModel(parent) {
    // A list declared without columns still shows its rows in one column.
    m_headings.resize(std::max<std::size_t>(columns.size(), 1));
    for (std::size_t i = 0; i < columns.size(); ++i)
        m_headings[i] = textedge::toQt(columns[i].heading);
}

int RowTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int RowTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_headings.size());
}

QVariant RowTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const auto note = m_notes.find(index.row());
    if (note != m_notes.end() && role == Qt::ForegroundRole) return QBrush(Qt::red);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    const Row& row = m_rows[static_cast<std::size_t>(index.row())];
    const auto column = static_cast<std::size_t>(index.column());
    // A marked row says why; one naming a sockets error says what it means; any
    // other shows its cell whole.
    if (role == Qt::ToolTipRole && note != m_notes.end()) return note->second;
    if (role == Qt::ToolTipRole)
        if (const QString meaning = rowMeaning(index.row()); !meaning.isEmpty()) return meaning;
    if (column >= row.size()) return QString();
    return textedge::toQt(row[column]);
}

void RowTableModel::setNote(int row, const QString& note) {
    if (row < 0 || row >= static_cast<int>(m_rows.size())) return;
    if (note.isEmpty())
        m_notes.erase(row);
    else
        m_notes[row] = note;
    Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
}

QString RowTableModel::rowMeaning(int index) const {
    if (index < 0 || index >= static_cast<int>(m_rows.size())) return {};
    for (const std::string& cell : m_rows[static_cast<std::size_t>(index)])
        if (std::string meaning = net::WinsockErrorMeaningIn(cell); !meaning.empty())
            return textedge::toQt(meaning);
    return {};
}

QVariant RowTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= static_cast<int>(m_headings.size()))
        return {};
    return m_headings[static_cast<std::size_t>(section)];
}

void RowTableModel::appendRows(std::vector<Row> rows) {
    if (rows.empty()) return;
    const int first = static_cast<int>(m_rows.size());
    beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
    m_rows.insert(m_rows.end(), std::make_move_iterator(rows.begin()),
                  std::make_move_iterator(rows.end()));
    endInsertRows();
}

void RowTableModel::setRows(std::vector<Row> rows) {
    beginResetModel();
    m_rows = std::move(rows);
    m_notes.clear();
    endResetModel();
}

void RowTableModel::setRow(std::size_t index, Row row) {
    if (index >= m_rows.size()) return;
    m_rows[index] = std::move(row);
    const int r = static_cast<int>(index);
    Q_EMIT dataChanged(this->index(r, 0), this->index(r, columnCount() - 1));
}

void RowTableModel::clear() { setRows({}); }

void RowTableModel::dropOldest(std::size_t count, Row line) {
    count = std::min(count, m_rows.size());
    m_notes.clear();
    if (count > 0) {
        beginRemoveRows({}, 0, static_cast<int>(count) - 1);
        m_rows.erase(m_rows.begin(), m_rows.begin() + static_cast<std::ptrdiff_t>(count));
        endRemoveRows();
    }
    beginInsertRows({}, 0, 0);
    m_rows.insert(m_rows.begin(), std::move(line));
    endInsertRows();
}

void RowTableModel::setHeading(int column, const QString& heading) {
    if (column < 1) return;
    const auto at = static_cast<std::size_t>(column - 1);
    if (at >= m_headings.size()) {
        // A heading past the declared columns widens the list, as a list control
        // grows a column when one is inserted.
        beginInsertColumns({}, static_cast<int>(m_headings.size()), column - 1);
        m_headings.resize(at + 1);
        endInsertColumns();
    }
    m_headings[at] = heading;
    Q_EMIT headerDataChanged(Qt::Horizontal, column - 1, column - 1);
}

bool RowTableModel::hasHeadings() const {
    return std::any_of(m_headings.begin(), m_headings.end(),
                       [](const QString& h) { return !h.isEmpty(); });
}

} // namespace ui
