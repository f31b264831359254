#include "ui/console/consolewindow.h"

#include "ui/console/consoleoutput.h"

#include <cstdio>

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
    // A row replaced in place prints as a new one does: the row's own cells say
    // which it is.
    case Change::Kind::RowChanged: m_output.printRow(m_name, "row " + n, c.row); break;
    case Change::Kind::Sampled: {
        // "series CHART NAME<TAB>SECONDS<TAB>VALUE", the value "lost" when none came.
        char time[32];
        char value[32];
        std::snprintf(time, sizeof time, "%.3f", c.sample.time);
        std::snprintf(value, sizeof value, "%.1f", c.sample.value);
        m_output.printRow(m_name, "series " + n, {c.text, time, c.sample.lost ? "lost" : value});
        break;
    }
    case Change::Kind::Report:
        // "report LIST CELL<TAB>CELL...", one line per row of the report.
        for (const ReportRow& row : c.report) {
            std::vector<std::string> cells;
            cells.reserve(row.size());
            for (const ReportCell& cell : row)
                cells.push_back(cell.text);
            m_output.printRow(m_name, "report " + n, cells);
        }
        break;
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
