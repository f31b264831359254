#include "ui/console/eventtext.h"

#include "platform/text.h"
#include "ui/console/consoleoutput.h"
#include "ui/windowmodel.h"

namespace ui {
namespace {

using Kind = Event::Kind;

// " <payload>" escaped and converted; nothing for an empty payload.
void payload(std::string& line, std::string_view cp1250) {
    if (cp1250.empty()) return;
    line += ' ';
    ConsoleOutput::appendEscaped(line, cp1250);
}

// A list row: its columns escaped and joined by tabs. A row of one empty column
// leaves no blank after the event, as an empty payload does.
void cells(std::string& line, const std::vector<std::string>& columns) {
    if (columns.size() > 1 || (columns.size() == 1 && !columns[0].empty())) line += ' ';
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (i) line += '\t';
        ConsoleOutput::appendEscaped(line, columns[i]);
    }
}

void control(std::string& line, const char* name, int number) {
    line.append(name).append(1, ' ').append(std::to_string(number));
}

} // namespace

void EventText::append(std::string& line, const Event& e) {
    static const std::vector<std::string> none;
    const std::vector<std::string>& columns = e.cells ? *e.cells : none;
    line.append(e.window).append(1, ' ');
    switch (e.kind) {
    case Kind::Open:
        line += "open";
        break;
    case Kind::Closed:
        line += "closed";
        break;
    case Kind::Caption:
        line += "caption";
        payload(line, e.text);
        break;
    case Kind::Field:
        control(line, "field", e.control);
        payload(line, e.text);
        break;
    case Kind::Picture:
        line += "picture";
        payload(line, e.text);
        break;
    case Kind::Enable:
        control(line, "enable", e.control);
        break;
    case Kind::Disable:
        control(line, "disable", e.control);
        break;
    case Kind::Check:
        control(line, "check", e.control);
        line += e.flag ? " 1" : " 0";
        break;
    case Kind::Row:
        control(line, "row", e.control);
        cells(line, columns);
        break;
    case Kind::Drop:
        control(line, "drop", e.control);
        line.append(1, ' ').append(std::to_string(e.number));
        payload(line, e.text);
        break;
    case Kind::Clear:
        control(line, "clear", e.control);
        break;
    case Kind::ListChanged:
        control(line, "list", e.control);
        line += " changed";
        break;
    case Kind::Heading:
        control(line, "heading", e.control);
        line.append(1, ' ').append(std::to_string(e.number));
        payload(line, e.text);
        break;
    case Kind::Shown:
        line += "shown";
        break;
    case Kind::Hidden:
        line += "hidden";
        break;
    case Kind::Cursor:
        line += e.flag ? "cursor wait" : "cursor normal";
        break;
    case Kind::Box:
        line += "box ";
        ConsoleOutput::appendEscaped(line, e.text);
        line.append(1, '\t').append(e.word).append(1, '\t');
        ConsoleOutput::appendEscaped(line, e.detail);
        break;
    case Kind::Answer:
        line.append("answer ").append(e.word);
        break;
    case Kind::Menu:
        line += "menu";
        payload(line, e.text);
        break;
    case Kind::Chosen:
        line.append("chosen ").append(std::to_string(e.number));
        break;
    case Kind::Beep:
        line += "beep";
        break;
    case Kind::Cue:
        line += "cue";
        payload(line, e.text);
        break;
    case Kind::Front:
        line += "front";
        break;
    case Kind::Refused:
        line.append("refused ").append(e.word).append(1, ' ').append(std::to_string(e.control));
        break;
    case Kind::Timeout:
        line.append("timeout waitfor ").append(e.word);
        break;
    case Kind::Saved:
        control(line, "saved", e.control);
        line.append(1, ' ').append(std::to_string(e.number)).append(1, ' ').append(e.word);
        break;
    case Kind::Series: {
        // "series CHART NAME<TAB>SECONDS<TAB>VALUE", the value "lost" when none came.
        control(line, "series", e.control);
        cells(line, {std::string(e.text), text::fixed(e.sample->time, 3),
                     e.sample->lost ? "lost" : text::fixed(e.sample->value, 1)});
        break;
    }
    case Kind::Report: {
        std::vector<std::string> texts;
        texts.reserve(e.figures->size());
        for (const ReportCell& cell : *e.figures)
            texts.push_back(cell.text);
        control(line, "report", e.control);
        cells(line, texts);
        break;
    }
    case Kind::Tip:
        control(line, "tip", e.control);
        payload(line, e.text);
        break;
    case Kind::DumpCaption:
        line += "dump caption";
        payload(line, e.text);
        break;
    case Kind::DumpControl:
        control(line, "dump control", e.control);
        line.append(1, ' ').append(e.word).append(" \"");
        ConsoleOutput::appendEscaped(line, e.text);
        line.append(e.flag ? "\" enabled" : "\" disabled");
        payload(line, e.detail);
        break;
    case Kind::DumpRow:
        control(line, "dump row", e.control);
        cells(line, columns);
        break;
    case Kind::DumpZone:
        line.append("dump zone ").append(std::to_string(e.number));
        payload(line, e.text);
        break;
    case Kind::DumpMenu:
        line += "dump menu ";
        ConsoleOutput::appendEscaped(line, e.text);
        line += e.flag ? " check 1" : " check 0";
        break;
    }
}

} // namespace ui
