#include "net/holderlines.h"

#include "net/eventlog.h"

namespace net {
namespace {

constexpr const char* kIndent = "    ";

// `line` as lines of at most `width`, broken at the last blank that fits; a word
// longer than that is cut where the width ends.
void addWrapped(std::vector<std::string>& lines, std::string line, std::size_t width) {
    while (width > 4 && line.size() > width) {
        std::size_t at = line.rfind(' ', width);
        if (at == std::string::npos || at <= 4) at = width;
        lines.push_back(line.substr(0, at));
        const std::size_t rest = line.find_first_not_of(' ', at);
        line = kIndent + (rest == std::string::npos ? std::string() : line.substr(rest));
    }
    lines.push_back(line);
}

} // namespace

std::vector<std::string> holderLines(const win::HeldPort& held, std::size_t width) {
    std::vector<std::string> lines;
    for (const auto& p : held.processes)
        addWrapped(lines,
                   "  held by " + p.command + " (pid " + std::to_string(p.pid) + ", user " +
                       p.user + ")",
                   width);
    if (held.otherUser) addWrapped(lines, "  held by a process of another user", width);
    for (const auto& state : held.unheld)
        addWrapped(lines, "  held by no process (" + state + ")", width);
    return lines;
}

void logHolders(EventLog& log, win::PortHolders& holders, std::uint16_t port, int family) {
    for (const auto& line : holderLines(holders.find(port, family), std::size_t(log.width())))
        log.add(line);
}

} // namespace net
