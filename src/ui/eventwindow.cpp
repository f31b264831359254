#include "ui/eventwindow.h"

#include "ui/event.h"

namespace ui {

EventWindow::EventWindow(EventSink& sink, std::string name, const WindowDefinition* definition)
    : m_sink(sink), m_name(std::move(name)), m_definition(definition) {}

void EventWindow::modelChanged(const Change& c) {
    using K = Event::Kind;
    Event e{K::Caption, m_name};
    e.control = c.control;
    e.text = c.text;
    e.flag = c.flag;
    switch (c.kind) {
    case Change::Kind::Caption:
        break;
    case Change::Kind::Field: {
        // What the person typed is not news; what the tool wrote is, once: a tool
        // that writes a field at every step of a long task (a progress figure)
        // reports only when the text shown changes.
        auto [shown, first] = m_shown.try_emplace(c.control, c.text);
        const bool changed = first || shown->second != c.text;
        shown->second = c.text;
        if (!changed || c.byUser) return;
        const ControlDef* d = m_definition ? m_definition->control(c.control) : nullptr;
        e.kind = d && d->kind == ControlKind::Picture ? K::Picture : K::Field;
        break;
    }
    case Change::Kind::Enabled:
        e.kind = c.flag ? K::Enable : K::Disable;
        break;
    case Change::Kind::Checked:
        if (c.byUser) return;
        e.kind = K::Check;
        break;
    // A row replaced in place reports as a new one does: the row's own cells say
    // which it is.
    case Change::Kind::RowAppended:
    case Change::Kind::RowChanged:
        e.kind = K::Row;
        e.cells = &c.row;
        break;
    case Change::Kind::Sampled:
        e.kind = K::Series;
        e.sample = &c.sample;
        break;
    case Change::Kind::Report:
        // One event per row of the report, as the text output has one line each.
        e.kind = K::Report;
        for (const ReportRow& row : c.report) {
            e.figures = &row;
            m_sink.report(e);
        }
        return;
    case Change::Kind::RowsDropped:
        // How many rows went, with the text of the line that now stands first.
        e.kind = K::Drop;
        e.number = static_cast<long long>(c.count);
        e.text = c.row.empty() ? std::string_view() : std::string_view(c.row.back());
        break;
    case Change::Kind::ListCleared:
        e.kind = K::Clear;
        break;
    case Change::Kind::ListChanged:
        e.kind = K::ListChanged;
        break;
    case Change::Kind::Heading:
        e.kind = K::Heading;
        e.number = c.column;
        break;
    case Change::Kind::Visible:
        e.kind = c.flag ? K::Shown : K::Hidden;
        break;
    case Change::Kind::Cursor:
        e.kind = K::Cursor;
        break;
    case Change::Kind::ToolTip:
        e.kind = K::Tip;
        break;
    // Focus, status zones, menu checks, placement and redraws change all the time
    // or say nothing new; a script's `dump` shows them. A row's note repeats, for
    // the eye, the error its log line already gave.
    case Change::Kind::Focus:
    case Change::Kind::StatusZone:
    case Change::Kind::MenuChecked:
    case Change::Kind::Placement:
    case Change::Kind::Redraw:
    case Change::Kind::RowNote:
        return;
    }
    m_sink.report(e);
}

} // namespace ui
