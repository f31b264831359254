#pragma once
#include "ui/definition.h"
#include "ui/qt/dialogunits.h"
#include "ui/windowmodel.h"

#include <QTreeView>
#include <vector>

class QFont;
class QMenu;

namespace ui {

class RowTableModel;

// A list control: the rows of one list of a window, in columns at least as wide
// as their declared characters in the font in use. Rows can be selected several
// at a time and copied (Ctrl+C, Edit/Copy, the context menu) or saved to a file,
// as tab-separated lines. A list opens at its first row; rows added while the
// person sees its last one bring the newest into view, unless the window is busy
// filling it (a scan, a trace), whose rows are read from the top.
class ListView : public QTreeView {
    Q_OBJECT
public:
    ListView(std::vector<ColumnDef> columns, const DialogUnits& units, QWidget* parent = nullptr);

    RowTableModel* rows() const { return m_rows; }
    // The width a column needs: its dialog units, but never fewer pixels than its
    // declared characters take in `font` (digits, the widest of the common ones,
    // as well as the average letter).
    static int neededColumnWidth(const ColumnDef& column, int unitsInPixels, const QFont& font,
                           int cellMargins);

    // The meaning of the error the current row names, while it is selected.
    QString selectedMeaning() const;
    // The selected rows as text, in list order; empty when none is selected.
    QString selectedText() const;
    void copySelection() const;
    // Writes every row to `file`; false when the file cannot be written.
    bool saveTo(const QString& file) const;
    // "Save list as...": asks for a file and writes the rows there.
    void saveAs();
    // Copy, Select all and "Save list as...", as the context menu offers them.
    QMenu* contextMenu();
    // Rows the tool added, shown at the end.
    void appendRows(std::vector<Row> rows);
    // The window is busy (a long task under the wait cursor): its rows fill the list.
    void setBusy(bool busy) { m_busy = busy; }
    // Whether the list follows its newest row as rows arrive.
    bool following() const { return m_follow; }
    // A click or the keys make a cell current: the list scrolls up and down to it
    // but never sideways, which would hide the first columns (the time).
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    std::vector<Row> selectedRows() const;
    void sizeColumns();

    std::vector<ColumnDef> m_columns;
    DialogUnits m_units;
    RowTableModel* m_rows = nullptr;
    bool m_follow = false;
    bool m_busy = false;
    bool m_scrolling = false; // the list itself is moving to its newest row
};

} // namespace ui
