#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace ui {

struct Sample;
struct ReportCell;

// One thing a front end reports: a window's change, a box and its answer, a sound,
// a script's result. The headless text line and the JSON object are both written
// from it, so the two always carry the same events. It only points at its texts:
// it is made, reported and forgotten within one call, and a sink that writes it
// later keeps a copy (EventQueue).
//
// `text` and `detail` are Windows-1250 (the system's own texts); `word` is UTF-8
// (the script's words, the program's own ASCII names). Which fields a kind uses
// stands beside it.
struct Event {
    enum class Kind {
        Open,        // -
        Closed,      // -
        Caption,     // text
        Field,       // control, text
        Picture,     // control, text = the picture file
        Enable,      // control
        Disable,     // control
        Check,       // control, flag = checked
        Row,         // control, cells
        Drop,        // control, number = rows gone, text = the line that now stands first
        Clear,       // control
        ListChanged, // control
        Heading,     // control, number = column, text
        Shown,       // -
        Hidden,      // -
        Cursor,      // flag = the busy cursor (false: the normal one)
        Box,         // text = caption, detail = message, word = icon, cells = button labels
        Answer,      // word = the button's label
        Menu,        // text = the entries, "|" between them
        Chosen,      // number = the entry, 0 = none
        Beep,        // -
        Cue,         // text = the sound file
        Front,       // -
        Refused,     // word = the command, control
        Timeout,     // word = what `waitfor` waited for
        Saved,       // control, number = rows, word = the file
        DumpCaption, // text
        DumpControl, // control, word = kind, text = label, flag = enabled, detail = value
        DumpRow,     // control, cells
        DumpZone,    // number = zone, text
        DumpMenu,    // text = the item's label, flag = checked
        Series,      // control, text = the series' name, sample
        Report,      // control, figures = one row of a finished run's report
        Tip,         // control, text = the control's new tool tip
    };
    Kind kind;
    std::string_view window; // "PROC#N", "-" for none
    int control = 0;
    long long number = 0;
    bool flag = false;
    std::string_view text{};
    std::string_view detail{};
    std::string_view word{};
    const std::vector<std::string>* cells = nullptr;
    const Sample* sample = nullptr;
    const std::vector<ReportCell>* figures = nullptr;
};

// Where events go: the console's output, an events file.
class EventSink {
public:
    virtual ~EventSink() = default;
    // From any thread; one sink keeps the order in which its callers were let in.
    virtual void report(const Event& event) = 0;
};

} // namespace ui
