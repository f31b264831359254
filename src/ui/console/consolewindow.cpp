#include "ui/console/consolewindow.h"

#include "ui/console/consoleoutput.h"

namespace ui {

ConsoleWindow::ConsoleWindow(ConsoleOutput& output, std::string name,
                             const WindowDefinition* definition)
    : m_output(output), m_name(std::move(name)), m_definition(definition) {}

void ConsoleWindow::modelChanged(const Change& c) {
    const std::string n = std::to_string(c.control);
    switch (c.kind) {
    case Change::Kind::Caption: m_output.print(m_name, "caption", c.text); break;
    case Change::Kind::Field: {
        // What the person typed is not news; what the tool wrote is, once: a tool
        // that writes a field at every step of a long task (a progress figure)
        // prints a line only when the text shown changes.
        auto [shown, first] = m_shown.try_emplace(c.control, c.text);
        const bool changed = first || shown->second != c.text;
        shown->second = c.text;
        if (!changed || c.byUser) break;
        if (const ControlDef* d = m_definition ? m_definition->control(c.control) : nullptr;
            d && d->kind == ControlKind::Picture)
            m_output.print(m_name, "picture", c.text);
        else
            m_output.print(m_name, "field " + n, c.text);
        break;
    }
    case Change::Kind::Enabled: m_output.print(m_name, (c.flag ? "enable " : "disable ") + n); break;
    case Change::Kind::Checked:
        if (!c.byUser) m_output.print(m_name, "check " + n + (c.flag ? " 1" : " 0"));
        break;
    case Change::Kind::RowAppended: m_output.printRow(m_name, "row " + n, c.row); break;
    case Change::Kind::RowsDropped:
        // "drop LIST COUNT" with the text of the line that now stands first.
        m_output.print(m_name, "drop " + n + " " + std::to_string(c.count),
                       c.row.empty() ? std::string() : c.row.back());
        break;
    case Change::Kind::ListCleared: m_output.print(m_name, "clear " + n); break;
    case Change::Kind::ListChanged: m_output.print(m_name, "list " + n + " changed"); break;
    case Change::Kind::Heading:
        m_output.print(m_name, "heading " + n + " " + std::to_string(c.column), c.text);
        break;
    case Change::Kind::Visible: m_output.print(m_name, c.flag ? "shown" : "hidden"); break;
    case Change::Kind::ToolTip: m_output.print(m_name, "tip " + n, c.text); break;
    case Change::Kind::Cursor:
        m_output.print(m_name, c.flag ? "cursor wait" : "cursor normal");
        break;
    // Focus, status zones, menu checks, placement and redraws change all the time
    // or say nothing new; `dump` shows them.
    case Change::Kind::Focus:
    case Change::Kind::StatusZone:
    case Change::Kind::MenuChecked:
    case Change::Kind::Placement:
    case Change::Kind::Redraw: break;
    }
}

} // namespace ui
