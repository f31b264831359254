// What a peer sends reaches the servers', traps' and client's logs through these
// read paths: for any received bytes the line is cut to the log's width, holds no
// zero byte, and its console line is one line.
#include "net/eventlog.h"
#include "net/receivedtext.h"
#include "ui/console/consoleoutput.h"
#include "ui/eventwindow.h"
#include "ui/windowmodel.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

ui::WindowDefinition logWindow() {
    ui::WindowDefinition d;
    ui::ControlDef list;
    list.number = 1;
    list.kind = ui::ControlKind::List;
    list.columns = {{76, "", 20}, {160, "", 40}};
    d.controls = {list};
    return d;
}

// Checks every line the console prints for the window.
class LineCheck : public ui::ModelObserver {
public:
    void modelChanged(const ui::Change& c) override {
        if (c.kind != ui::Change::Kind::RowAppended) return;
        for (const auto& cell : c.row) {
            const std::string shown = ui::ConsoleOutput::escape(cell);
            if (shown.find_first_of("\r\n") != std::string::npos) std::abort();
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // What one receive of at most 1,024 bytes can give.
    const std::string_view bytes(reinterpret_cast<const char*>(data),
                                 std::min<std::size_t>(size, 1024));
    const std::string text = net::receivedText(bytes);
    const std::string lowered = net::loweredText(bytes);
    const std::string reply = net::replyLine(bytes);
    if (text.find('\0') != std::string::npos || lowered.size() > text.size()) std::abort();
    if (reply.find('\r') != std::string::npos || text.compare(0, reply.size(), reply) != 0)
        std::abort();
    for (char c : lowered)
        if (c >= 'A' && c <= 'Z') std::abort();

    static std::FILE* sink = std::fopen("/dev/null", "w");
    static ui::ConsoleOutput output(sink);
    ui::WindowModel model(logWindow());
    ui::EventWindow console(output, "Fuzz#1");
    LineCheck lines;
    model.addObserver(&console);
    model.addObserver(&lines);
    net::EventLog log(model, 1, 40, net::EventLog::Limit::EmptyAt250);
    log.addDirect(lowered);       // the TCP server and trap
    log.add("127.0.0.1 " + text); // the UDP server
    log.add(reply);               // the client
    for (const auto& row : model.rows(1))
        if (row.size() != 2 || row[1].size() > 40 || row[1].find('\0') != std::string::npos)
            std::abort();
    model.removeObserver(&lines);
    model.removeObserver(&console);
    return 0;
}
