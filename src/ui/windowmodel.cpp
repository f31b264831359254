#include "ui/windowmodel.h"

#include <algorithm>

namespace ui {

WindowModel::WindowModel(const WindowDefinition& definition) : m_caption(definition.caption) {
    for (const auto& c : definition.controls) {
        ControlState& s = m_controls[c.number];
        s.value = c.value;
        s.enabled = c.enabled;
        s.checked = (c.kind == ControlKind::CheckBox || c.kind == ControlKind::Radio) &&
                    c.value == "1";
        s.columns = std::max<std::size_t>(c.columns.size(), 1);
        s.span = c.spanSeconds;
        for (std::size_t i = 0; i < c.columns.size(); ++i)
            if (!c.columns[i].heading.empty())
                s.headings[static_cast<int>(i) + 1] = c.columns[i].heading;
    }
    m_placement = {definition.x, definition.y, definition.width, definition.height, false,
                   definition.maximized};
}

void WindowModel::addObserver(ModelObserver* observer) {
    std::lock_guard lock(m_notifyMutex);
    m_observers.push_back(observer);
}

void WindowModel::removeObserver(ModelObserver* observer) {
    std::lock_guard lock(m_notifyMutex);
    std::erase(m_observers, observer);
}

void WindowModel::notify(const Change& change) {
    for (ModelObserver* o : m_observers) o->modelChanged(change);
}

WindowModel::ControlState& WindowModel::state(int control) { return m_controls[control]; }

const WindowModel::ControlState* WindowModel::find(int control) const {
    auto it = m_controls.find(control);
    return it == m_controls.end() ? nullptr : &it->second;
}

Change WindowModel::makeChange(Change::Kind kind, int control) {
    Change c;
    c.kind = kind;
    c.control = control;
    return c;
}

std::string WindowModel::caption() const {
    std::lock_guard lock(m_mutex);
    return m_caption;
}

void WindowModel::setCaption(const std::string& caption) {
    Change c = makeChange(Change::Kind::Caption);
    c.text = caption;
    update(c, [&] { m_caption = caption; });
}

std::string WindowModel::value(int control) const {
    std::lock_guard lock(m_mutex);
    const ControlState* s = find(control);
    return s ? s->value : std::string();
}

void WindowModel::setValue(int control, const std::string& value, bool byUser) {
    Change c = makeChange(Change::Kind::Field, control);
    c.text = value;
    c.byUser = byUser;
    update(c, [&] { state(control).value = value; });
}

bool WindowModel::enabled(int control) const {
    std::lock_guard lock(m_mutex);
    const ControlState* s = find(control);
    return s ? s->enabled : true;
}

void WindowModel::setEnabled(int control, bool enabled) {
    Change c = makeChange(Change::Kind::Enabled, control);
    c.flag = enabled;
    update(c, [&] {
        ControlState& s = state(control);
        if (s.enabled == enabled) return false;
        s.enabled = enabled;
        return true;
    });
}

bool WindowModel::checked(int control) const {
    std::lock_guard lock(m_mutex);
    const ControlState* s = find(control);
    return s && s->checked;
}

void WindowModel::setChecked(int control, bool checked, bool byUser) {
    Change c = makeChange(Change::Kind::Checked, control);
    c.flag = checked;
    c.byUser = byUser;
    update(c, [&] {
        ControlState& s = state(control);
        s.checked = checked;
        s.value.assign(1, checked ? '1' : '0');
    });
}

std::size_t WindowModel::rowCount(int control) const {
    std::lock_guard lock(m_mutex);
    const ControlState* s = find(control);
    return s ? s->rows.size() : 0;
}

std::vector<Row> WindowModel::rows(int control) const {
    std::lock_guard lock(m_mutex);
    const ControlState* s = find(control);
    return s ? s->rows : std::vector<Row>();
}

Row WindowModel::droppedLine(const ControlState& s) {
    std::string text = std::to_string(s.dropped) + " older rows dropped";
    // In the second column where there is one: the first of a log is its time.
    if (s.columns < 2) return {std::move(text)};
    return {"", std::move(text)};
}

std::size_t WindowModel::applyCeiling(ControlState& s) {
    if (s.rows.size() <= ListCeiling) return 0;
    const bool hadLine = s.dropped > 0;
    // Back to DropChunk rows under the ceiling, and the line that says so.
    const std::size_t removed = s.rows.size() - (ListCeiling - DropChunk);
    s.dropped += removed - (hadLine ? 1 : 0);
    s.rows.erase(s.rows.begin(), s.rows.begin() + static_cast<std::ptrdiff_t>(removed));
    s.rows.insert(s.rows.begin(), droppedLine(s));
    s.notes.clear();
    return removed;
}

void WindowModel::appendRow(int control, Row row) {
    Change c = makeChange(Change::Kind::RowAppended, control);
    c.row = std::move(row);
    Change drop = makeChange(Change::Kind::RowsDropped, control);
    {
        std::lock_guard order(m_notifyMutex);
        {
            std::lock_guard lock(m_mutex);
            ControlState& s = state(control);
            s.rows.push_back(c.row);
            drop.count = applyCeiling(s);
            if (drop.count > 0) drop.row = s.rows.front();
        }
        // The drop first: an observer that follows the changes one by one never
        // holds more rows than the ceiling, and the same rows as the model after
        // both. The rows dropped are the oldest, which the new one is not.
        if (drop.count > 0) notify(drop);
        notify(c);
    }
}

void WindowModel::clearList(int control) {
    update(makeChange(Change::Kind::ListCleared, control), [&] {
        ControlState& s = state(control);
        s.rows.clear();
        s.notes.clear();
        s.dropped = 0;
        s.samples.clear();
        s.seriesNames.clear();
    });
}

void WindowModel::setRow(int control, std::size_t index, Row row) {
    // Rows are written by the tool's own thread, so the count cannot move between
    // this look and the append.
    if (index == rowCount(control)) {
        appendRow(control, std::move(row));
        return;
    }
    Change c = makeChange(Change::Kind::RowChanged, control);
    c.count = index;
    c.row = row;
    update(c, [&] {
        ControlState& s = state(control);
        if (index >= s.rows.size() || s.rows[index] == row) return false;
        s.rows[index] = std::move(row);
        return true;
    });
}

void WindowModel::addSample(int control, const Sample& sample, const std::string& seriesName) {
    Change c = makeChange(Change::Kind::Sampled, control);
    c.text = seriesName;
    c.sample = sample;
    update(c, [&] {
        ControlState& s = state(control);
        s.seriesNames[sample.series] = seriesName;
        s.samples.push_back(sample);
        // Samples come in time order, so the old ones are at the front.
        while (!s.samples.empty() && (s.samples.front().time < sample.time - s.span ||
                                      s.samples.size() > SampleCeiling))
            s.samples.pop_front();
    });
}

std::vector<Sample> WindowModel::samples(int control) const {
    std::lock_guard lock(m_mutex);
    const ControlState* s = find(control);
    return s ? std::vector<Sample>(s->samples.begin(), s->samples.end()) : std::vector<Sample>();
}

std::string WindowModel::seriesName(int control, int series) const {
    std::lock_guard lock(m_mutex);
    const ControlState* s = find(control);
    if (!s) return {};
    auto it = s->seriesNames.find(series);
    return it == s->seriesNames.end() ? std::string() : it->second;
}

void WindowModel::report(int control, std::vector<ReportRow> rows) {
    Change c = makeChange(Change::Kind::Report, control);
    c.report = std::move(rows);
    update(c, [] {});
}

void WindowModel::setRows(int control, std::vector<Row> rows) {
    update(makeChange(Change::Kind::ListChanged, control), [&] {
        ControlState& s = state(control);
        s.rows = std::move(rows);
        s.notes.clear();
        s.dropped = 0;
        applyCeiling(s);
    });
}

void WindowModel::setRowNote(int control, std::size_t row, const std::string& note) {
    Change c = makeChange(Change::Kind::RowNote, control);
    c.count = row;
    c.text = note;
    update(c, [&] {
        ControlState& s = state(control);
        if (row >= s.rows.size()) return false;
        if (note.empty()) return s.notes.erase(row) > 0;
        s.notes[row] = note;
        return true;
    });
}

std::map<std::size_t, std::string> WindowModel::rowNotes(int control) const {
    std::lock_guard lock(m_mutex);
    const ControlState* s = find(control);
    return s ? s->notes : std::map<std::size_t, std::string>();
}

std::string WindowModel::heading(int control, int column) const {
    std::lock_guard lock(m_mutex);
    const ControlState* s = find(control);
    if (!s) return {};
    auto it = s->headings.find(column);
    return it == s->headings.end() ? std::string() : it->second;
}

void WindowModel::setHeading(int control, int column, const std::string& heading) {
    Change c = makeChange(Change::Kind::Heading, control);
    c.column = column;
    c.text = heading;
    update(c, [&] { state(control).headings[column] = heading; });
}

std::string WindowModel::toolTip(int control) const {
    std::lock_guard lock(m_mutex);
    const ControlState* s = find(control);
    return s ? s->toolTip : std::string();
}

void WindowModel::setToolTip(int control, const std::string& tip) {
    Change c = makeChange(Change::Kind::ToolTip, control);
    c.text = tip;
    update(c, [&] { state(control).toolTip = tip; });
}

int WindowModel::focus() const {
    std::lock_guard lock(m_mutex);
    return m_focus;
}

void WindowModel::setFocus(int control) {
    update(makeChange(Change::Kind::Focus, control), [&] { m_focus = control; });
}

std::string WindowModel::statusZone(int zone) const {
    std::lock_guard lock(m_mutex);
    auto it = m_zones.find(zone);
    return it == m_zones.end() ? std::string() : it->second;
}

void WindowModel::setStatusZone(int zone, const std::string& text) {
    Change c = makeChange(Change::Kind::StatusZone);
    c.column = zone;
    c.text = text;
    update(c, [&] { m_zones[zone] = text; });
}

bool WindowModel::menuChecked(int id) const {
    std::lock_guard lock(m_mutex);
    auto it = m_menuChecks.find(id);
    return it != m_menuChecks.end() && it->second;
}

void WindowModel::setMenuChecked(int id, bool checked) {
    Change c = makeChange(Change::Kind::MenuChecked, id);
    c.flag = checked;
    update(c, [&] { m_menuChecks[id] = checked; });
}

bool WindowModel::visible() const {
    std::lock_guard lock(m_mutex);
    return m_visible;
}

void WindowModel::setVisible(bool visible) {
    Change c = makeChange(Change::Kind::Visible);
    c.flag = visible;
    update(c, [&] { m_visible = visible; });
}

Placement WindowModel::placement() const {
    std::lock_guard lock(m_mutex);
    return m_placement;
}

void WindowModel::setPlacement(const Placement& placement, bool byUser) {
    Change c = makeChange(Change::Kind::Placement);
    c.byUser = byUser;
    update(c, [&] { m_placement = placement; });
}

void WindowModel::redraw() {
    update(makeChange(Change::Kind::Redraw), [] {});
}

bool WindowModel::waitCursor() const {
    std::lock_guard lock(m_mutex);
    return m_waitCursor;
}

void WindowModel::setWaitCursor(bool wait) {
    Change c = makeChange(Change::Kind::Cursor);
    c.flag = wait;
    update(c, [&] {
        if (m_waitCursor == wait) return false;
        m_waitCursor = wait;
        return true;
    });
}

} // namespace ui
