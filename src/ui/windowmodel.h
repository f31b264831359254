#pragma once
#include "ui/definition.h"

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

namespace ui {

using Row = std::vector<std::string>;

// One value of a chart's series at a time; a lost value is marked on the time axis.
struct Sample {
    int series = 0;    // the tool's number for the series (a hop, ...)
    double time = 0;   // seconds since the epoch, UTC
    float value = 0;   // the series' unit (milliseconds, ...); a float keeps a sample at 24 bytes
    bool lost = false; // nothing came: `value` means nothing
};

// A cell of a report: its text as shown and, where it is a figure, the figure
// itself, so that machine output carries a number rather than its text.
struct ReportCell {
    std::string text;
    bool isNumber = false;
    double number = 0;
};
using ReportRow = std::vector<ReportCell>;

// One change of a window's model, as front ends observe it.
struct Change {
    enum class Kind {
        Caption,     // text
        Field,       // control, text
        Enabled,     // control, flag
        Checked,     // control, flag
        RowAppended, // control, row
        ListCleared, // control
        ListChanged, // control (rows replaced or removed)
        RowsDropped, // control, count, row: the first `count` rows go, `row` takes their place
        Heading,     // control, column, text
        Focus,       // control
        StatusZone,  // column = zone, text
        MenuChecked, // control = menu item id, flag
        Visible,     // flag
        Placement,   // geometry changed by the tool
        Redraw,      // the tool asked for its window to be redrawn
        Cursor,      // flag: the busy cursor is over the window (false: the normal one)
        RowNote,     // control, count = row index, text: why the row is marked (empty: not)
        RowChanged,  // control, count = the row's index, row: a row replaced in place
        Sampled,     // control, text = series name, sample: a chart's new value
        Report,      // control, report: the figures of a finished run, one row each
        ToolTip,     // control, text: the tool changed a control's tip
    };
    Kind kind = Kind::Redraw;
    int control = 0;
    int column = 0;
    std::string text;
    Row row;
    bool flag = false;
    bool byUser = false; // the change came from the person (or a script), not the tool
    std::size_t count = 0;
    Sample sample;
    std::vector<ReportRow> report;
};

class ModelObserver {
public:
    virtual ~ModelObserver() = default;
    // Called on the thread that made the change, in the order of the changes.
    virtual void modelChanged(const Change& change) = 0;
};

// Window position and size in dialog units, and its state.
struct Placement {
    int x = 0, y = 0, width = 0, height = 0;
    bool minimized = false;
    bool maximized = false;
};

// The state of one window: what the tool writes and the front ends show. Every
// method may be called from any thread; observers see the changes in order.
class WindowModel {
public:
    // No list holds more rows than this, whatever a peer sends: past it the oldest
    // rows go, DropChunk at a time (so front ends remove rows once in a while, not
    // at every append), and the first row says how many have gone in all. A tool's
    // own, lower limit comes first.
    static constexpr std::size_t ListCeiling = 50000;
    static constexpr std::size_t DropChunk = 1000;
    // Nor does a chart keep more samples than this, whatever its span.
    static constexpr std::size_t SampleCeiling = 200000;

    explicit WindowModel(const WindowDefinition& definition);

    void addObserver(ModelObserver* observer);
    void removeObserver(ModelObserver* observer);

    std::string caption() const;
    void setCaption(const std::string& caption);

    std::string value(int control) const;
    void setValue(int control, const std::string& value, bool byUser = false);

    bool enabled(int control) const;
    void setEnabled(int control, bool enabled);

    bool checked(int control) const;
    void setChecked(int control, bool checked, bool byUser = false);

    std::size_t rowCount(int control) const;
    std::vector<Row> rows(int control) const;
    void appendRow(int control, Row row);
    void clearList(int control);
    void setRows(int control, std::vector<Row> rows);
    // Replaces row `index`; appends when `index` is the row count. Observers hear
    // nothing when the row is as it was.
    void setRow(int control, std::size_t index, Row row);

    // A chart's samples within its span (the newest sample's time less the span);
    // clearList() empties a chart too.
    void addSample(int control, const Sample& sample, const std::string& seriesName);
    std::vector<Sample> samples(int control) const;
    std::string seriesName(int control, int series) const;
    // A tool's report: observers print or keep it; the model holds nothing of it.
    void report(int control, std::vector<ReportRow> rows);

    // A list row the person should notice, with why (a port that could not be
    // bound). Notes belong to the rows: they go when the list is cleared, replaced
    // or passes its ceiling. The row's text stays as it is.
    void setRowNote(int control, std::size_t row, const std::string& note);
    std::map<std::size_t, std::string> rowNotes(int control) const;

    std::string heading(int control, int column) const;
    void setHeading(int control, int column, const std::string& heading);
    // A control's tip as the tool sets it while it runs; empty: the definition's.
    std::string toolTip(int control) const;
    void setToolTip(int control, const std::string& tip);

    int focus() const;
    void setFocus(int control);

    std::string statusZone(int zone) const;
    void setStatusZone(int zone, const std::string& text);

    bool menuChecked(int id) const;
    void setMenuChecked(int id, bool checked);

    bool visible() const;
    void setVisible(bool visible);

    Placement placement() const;
    void setPlacement(const Placement& placement, bool byUser = false);

    void redraw();

    // The busy cursor, shown over the window while a handler works through a long
    // task without returning to the event loop; observers hear only of a change.
    bool waitCursor() const;
    void setWaitCursor(bool wait);

private:
    struct ControlState {
        std::string value;
        bool enabled = true;
        bool checked = false;
        std::vector<Row> rows;
        std::map<int, std::string> headings;
        std::map<std::size_t, std::string> notes; // row -> why it is marked
        std::string toolTip;
        std::size_t columns = 1;   // cells a row may show, for the dropped-rows line
        std::uint64_t dropped = 0; // rows gone past the ceiling since the list was filled
        std::deque<Sample> samples;             // charts
        std::map<int, std::string> seriesNames; // charts
        double span = 600;                      // charts: seconds kept
    };
    // Keeps `s` under the ceiling; the number of rows taken from its front (the
    // earlier dropped-rows line included), 0 when nothing went.
    static std::size_t applyCeiling(ControlState& s);
    static Row droppedLine(const ControlState& s);
    ControlState& state(int control);
    const ControlState* find(int control) const;
    void notify(const Change& change);
    // Makes a change: `mutate` updates the data under m_mutex (returning false when
    // nothing changed), then observers see `change`. m_notifyMutex is taken first,
    // so two threads' changes reach observers in the order they were made.
    template <typename Mutate> void update(const Change& change, Mutate mutate) {
        std::lock_guard order(m_notifyMutex);
        {
            std::lock_guard lock(m_mutex);
            if constexpr (std::is_same_v<decltype(mutate()), bool>) {
                if (!mutate()) return;
            } else {
                mutate();
            }
        }
        notify(change);
    }
    static Change makeChange(Change::Kind kind, int control = 0);

    mutable std::mutex m_mutex;  // guards the data below
    std::mutex m_notifyMutex;    // keeps notifications in the order of the changes
    std::vector<ModelObserver*> m_observers;
    std::string m_caption;
    std::map<int, ControlState> m_controls;
    std::map<int, std::string> m_zones;
    std::map<int, bool> m_menuChecks;
    int m_focus = 0;
    bool m_visible = true;
    bool m_waitCursor = false;
    Placement m_placement;
};

} // namespace ui
