#pragma once
#include "ui/definition.h"
#include "ui/windowmodel.h"

#include <QAbstractTableModel>
#include <map>
#include <vector>

namespace ui {

// The rows of one list control. Rows stay in Windows-1250 as the tool wrote them
// and are converted only when the view asks for a cell, so a log of many
// thousand lines costs the GUI only the lines on screen.
class RowTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit RowTableModel(const std::vector<ColumnDef>& columns, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Many rows in one insertion, so the view relays itself out once.
    void appendRows(std::vector<Row> rows);
    void setRows(std::vector<Row> rows);
    void setRow(std::size_t index, Row row);
    void clear();
    // The list's oldest rows went past its ceiling: the first `count` rows go and
    // `line` (how many went in all) takes their place.
    void dropOldest(std::size_t count, Row line);
    // Column from 1, as the model numbers them.
    void setHeading(int column, const QString& heading);
    bool hasHeadings() const;
    // A marked row: shown in the warning colour, the note as its tooltip.
    void setNote(int row, const QString& note);
    // What the sockets error a row names means, empty when it names none.
    QString rowMeaning(int index) const;
    // The rows as the tool wrote them (Windows-1250).
    const Row& row(int index) const { return m_rows[static_cast<std::size_t>(index)]; }
    const std::vector<Row>& allRows() const { return m_rows; }

private:
    std::vector<Row> m_rows;
    std::vector<QString> m_headings;
    std::map<int, QString> m_notes;
};

} // namespace ui
