#pragma once
#include <string>

namespace ui {
class ToolWindow;
}

namespace net {

class EventLog;

// The symbolic name of a sockets error code, "Unknown Error Code" for any other.
std::string WinsockErrorName(int code);
// What an error means, in a line a person understands; empty for an unknown code.
std::string WinsockErrorMeaning(int code);
// The meaning of the first error name standing in `text` (a log line), else empty.
std::string WinsockErrorMeaningIn(const std::string& text);

// How a tool reports a failed sockets call.
enum class ReportVariant {
    Box,               // information windows: "<code>: <name>" under "WinSock Error"
    LogAndSound,       // the name as a log line, then "Error.wav"
    Log,               // the name as a log line, redrawn, no sound
    MarkedLogAndSound, // "ERROR !" in the time column, the name in lower case, "Error.wav"
};

// Reads the thread's last sockets error and reports it; returns the code.
int ReportWinsockError(ui::ToolWindow& window, ReportVariant variant, EventLog* log);
// The same for a code the caller already holds; `after` follows the name in a
// log line (" (IPv6)" for a call on a tool's IPv6 socket).
void ReportWinsockCode(ui::ToolWindow& window, ReportVariant variant, EventLog* log, int code,
                       const std::string& after = {});

} // namespace net
