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

// Each setter updates the data under m_mutex and notifies under m_notifyMutex,
// taken first, so two threads' changes reach observers in the order they were made.

std::string WindowModel::caption() const {
    std::lock_guard lock(m_mutex);
    return m_caption;
}

void WindowModel::setCaption(const std::string& caption) {
    std::lock_guard order(m_notifyMutex);
    {
        std::lock_guard lock(m_mutex);
        m_caption = caption;
    }
    Change c;
    c.kind = Change::Kind::Caption;
    c.text = caption;
    notify(c);
}

std::string WindowModel::value(int control) const {
    std::lock_guard lock(m_mutex);
    const ControlState* s = find(control);
    return s ? s->value : std::string();
}

void WindowModel::setValue(int control, const std::string& value, bool byUser) {
    std::lock_guard order(m_notifyMutex);
    {
        std::lock_guard lock(m_mutex);
        state(control).value = value;
    }
    Change c;
    c.kind = Change::Kind::Field;
    c.control = control;
    c.text = value;
    c.byUser = byUser;
    notify(c);
}

bool WindowModel::enabled(int control) const {
    std::lock_guard lock(m_mutex);
    const ControlState* s = find(control);
    return s ? s->enabled : true;
}

void WindowModel::setEnabled(int control, bool enabled) {
    std::lock_guard order(m_notifyMutex);
    {
        std::lock_guard lock(m_mutex);
        ControlState& s = state(control);
        if (s.enabled == enabled) return;
        s.enabled = enabled;
    }
    Change c;
    c.kind = Change::Kind::Enabled;
    c.control = control;
    c.flag = enabled;
    notify(c);
}

bool WindowModel::checked(int control) const {
    std::lock_guard lock(m_mutex);
    const ControlState* s = find(control);
    return s && s->checked;
}

void WindowModel::setChecked(int control, bool checked, bool byUser) {
    std::lock_guard order(m_notifyMutex);
    {
        std::lock_guard lock(m_mutex);
        ControlState& s = state(control);
        s.checked = checked;
        s.value.assign(1, checked ? '1' : '0');
    }
    Change c;
    c.kind = Change::Kind::Checked;
    c.control = control;
    c.flag = checked;
    c.byUser = byUser;
    notify(c);
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

void WindowModel::appendRow(int control, Row row) {
    std::lock_guard order(m_notifyMutex);
    {
        std::lock_guard lock(m_mutex);
        state(control).rows.push_back(row);
    }
    Change c;
    c.kind = Change::Kind::RowAppended;
    c.control = control;
    c.row = std::move(row);
    notify(c);
}

void WindowModel::clearList(int control) {
    std::lock_guard order(m_notifyMutex);
    {
        std::lock_guard lock(m_mutex);
        state(control).rows.clear();
    }
    Change c;
    c.kind = Change::Kind::ListCleared;
    c.control = control;
    notify(c);
}

void WindowModel::setRows(int control, std::vector<Row> rows) {
    std::lock_guard order(m_notifyMutex);
    {
        std::lock_guard lock(m_mutex);
        state(control).rows = std::move(rows);
    }
    Change c;
    c.kind = Change::Kind::ListChanged;
    c.control = control;
    notify(c);
}

std::string WindowModel::heading(int control, int column) const {
    std::lock_guard lock(m_mutex);
    const ControlState* s = find(control);
    if (!s) return {};
    auto it = s->headings.find(column);
    return it == s->headings.end() ? std::string() : it->second;
}

void WindowModel::setHeading(int control, int column, const std::string& heading) {
    std::lock_guard order(m_notifyMutex);
    {
        std::lock_guard lock(m_mutex);
        state(control).headings[column] = heading;
    }
    Change c;
    c.kind = Change::Kind::Heading;
    c.control = control;
    c.column = column;
    c.text = heading;
    notify(c);
}

int WindowModel::focus() const {
    std::lock_guard lock(m_mutex);
    return m_focus;
}

void WindowModel::setFocus(int control) {
    std::lock_guard order(m_notifyMutex);
    {
        std::lock_guard lock(m_mutex);
        m_focus = control;
    }
    Change c;
    c.kind = Change::Kind::Focus;
    c.control = control;
    notify(c);
}

std::string WindowModel::statusZone(int zone) const {
    std::lock_guard lock(m_mutex);
    auto it = m_zones.find(zone);
    return it == m_zones.end() ? std::string() : it->second;
}

void WindowModel::setStatusZone(int zone, const std::string& text) {
    std::lock_guard order(m_notifyMutex);
    {
        std::lock_guard lock(m_mutex);
        m_zones[zone] = text;
    }
    Change c;
    c.kind = Change::Kind::StatusZone;
    c.column = zone;
    c.text = text;
    notify(c);
}

bool WindowModel::menuChecked(int id) const {
    std::lock_guard lock(m_mutex);
    auto it = m_menuChecks.find(id);
    return it != m_menuChecks.end() && it->second;
}

void WindowModel::setMenuChecked(int id, bool checked) {
    std::lock_guard order(m_notifyMutex);
    {
        std::lock_guard lock(m_mutex);
        m_menuChecks[id] = checked;
    }
    Change c;
    c.kind = Change::Kind::MenuChecked;
    c.control = id;
    c.flag = checked;
    notify(c);
}

bool WindowModel::visible() const {
    std::lock_guard lock(m_mutex);
    return m_visible;
}

void WindowModel::setVisible(bool visible) {
    std::lock_guard order(m_notifyMutex);
    {
        std::lock_guard lock(m_mutex);
        m_visible = visible;
    }
    Change c;
    c.kind = Change::Kind::Visible;
    c.flag = visible;
    notify(c);
}

Placement WindowModel::placement() const {
    std::lock_guard lock(m_mutex);
    return m_placement;
}

void WindowModel::setPlacement(const Placement& placement, bool byUser) {
    std::lock_guard order(m_notifyMutex);
    {
        std::lock_guard lock(m_mutex);
        m_placement = placement;
    }
    Change c;
    c.kind = Change::Kind::Placement;
    c.byUser = byUser;
    notify(c);
}

void WindowModel::redraw() {
    std::lock_guard order(m_notifyMutex);
    Change c;
    c.kind = Change::Kind::Redraw;
    notify(c);
}

} // namespace ui
