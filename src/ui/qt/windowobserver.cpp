#include "ui/qt/windowobserver.h"

#include "ui/qt/guiqueue.h"
#include "ui/qt/windowview.h"
#include "ui/toolwindow.h"

namespace ui {

WindowObserver::WindowObserver(ToolWindow& window, GuiQueue* gui,
                               std::atomic<int>& flushCounter)
    : m_window(window), m_gui(gui), m_flushCounter(flushCounter) {}

void WindowObserver::seedFromModel() {
    WindowModel& model = m_window.model();
    const WindowDefinition& def = m_window.definition();
    std::vector<QueuedChange> seed;
    auto add = [&seed](Change::Kind kind, int control = 0) -> QueuedChange& {
        QueuedChange q;
        q.change.kind = kind;
        q.change.control = control;
        seed.push_back(std::move(q));
        return seed.back();
    };
    add(Change::Kind::Caption).change.text = model.caption();
    for (const ControlDef& c : def.controls) {
        const bool checkable = c.kind == ControlKind::CheckBox || c.kind == ControlKind::Radio;
        if (checkable) {
            add(Change::Kind::Checked, c.number).change.flag = model.checked(c.number);
        } else if (c.kind == ControlKind::List) {
            add(Change::Kind::ListChanged, c.number).rows = model.rows(c.number);
            for (const auto& [row, note] : model.rowNotes(c.number)) {
                QueuedChange& n = add(Change::Kind::RowNote, c.number);
                n.change.count = row;
                n.change.text = note;
            }
            for (std::size_t col = 1; col <= c.columns.size(); ++col) {
                QueuedChange& h = add(Change::Kind::Heading, c.number);
                h.change.column = static_cast<int>(col);
                h.change.text = model.heading(c.number, static_cast<int>(col));
            }
        } else {
            // Prompts, buttons and groups show their label until the tool writes
            // a text for them.
            const bool labelled = c.kind == ControlKind::Prompt || c.kind == ControlKind::Button ||
                                  c.kind == ControlKind::Group;
            const std::string value = model.value(c.number);
            if (!labelled || !value.empty()) add(Change::Kind::Field, c.number).change.text = value;
        }
        add(Change::Kind::Enabled, c.number).change.flag = model.enabled(c.number);
        if (const std::string tip = model.toolTip(c.number); !tip.empty())
            add(Change::Kind::ToolTip, c.number).change.text = tip;
    }
    for (int zone = 1; zone <= def.statusZones; ++zone) {
        QueuedChange& z = add(Change::Kind::StatusZone);
        z.change.column = zone;
        z.change.text = model.statusZone(zone);
    }
    add(Change::Kind::Placement).placement = model.placement();
    if (!model.visible()) add(Change::Kind::Visible).change.flag = false;
    if (model.waitCursor()) add(Change::Kind::Cursor).change.flag = true;
    if (model.focus() != 0) add(Change::Kind::Focus, model.focus());
    std::lock_guard lock(m_mutex);
    // The view does not exist yet: its creation drains this queue, so no flush
    // is posted until then.
    m_pending = std::move(seed);
    m_pendingFields.clear();
    m_flushPosted = true;
}

void WindowObserver::modelChanged(const Change& change) {
    // What the person did is already on the screen.
    if (change.byUser && (change.kind == Change::Kind::Field || change.kind == Change::Kind::Checked ||
                          change.kind == Change::Kind::Placement))
        return;
    QueuedChange q;
    q.change = change;
    if (change.kind == Change::Kind::ListChanged) q.rows = m_window.model().rows(change.control);
    if (change.kind == Change::Kind::Placement) q.placement = m_window.model().placement();
    queue(std::move(q));
}

void WindowObserver::queue(QueuedChange change) {
    bool post = false;
    {
        std::lock_guard lock(m_mutex);
        if (change.change.kind == Change::Kind::Field) {
            // A field written again before the GUI took the first text shows only
            // the last one: a figure updated at every step of a long task costs
            // the GUI one change per flush, not one per step.
            auto [at, first] = m_pendingFields.try_emplace(change.change.control, m_pending.size());
            if (!first) {
                m_pending[at->second].change.text = std::move(change.change.text);
                return;
            }
        }
        m_pending.push_back(std::move(change));
        post = !m_flushPosted;
        m_flushPosted = true;
    }
    if (post && m_gui) m_gui->post([self = shared_from_this()] { self->flush(); });
}

void WindowObserver::flush() {
    std::vector<QueuedChange> batch;
    {
        std::lock_guard lock(m_mutex);
        batch.swap(m_pending);
        m_pendingFields.clear();
        m_flushPosted = false;
    }
    ++m_flushCounter;
    if (m_view && !batch.empty()) m_view->applyChanges(batch);
}

} // namespace ui
