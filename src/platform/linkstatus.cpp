#include "platform/linkstatus.h"

#include <climits>
#include <fstream>
#include <optional>
#include <sstream>

namespace win {
namespace {

constexpr unsigned long kRouteUp = 0x0001; // RTF_UP

std::optional<std::string> firstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    return line;
}

// An interface name as the kernel allows it: it becomes one path component.
bool plainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool interfaceUp(const std::string& root, const std::string& name) {
    const std::string dir = root + "/sys/class/net/" + name;
    const auto state = firstLine(dir + "/operstate");
    if (!state || *state != "up") return false;
    // The kernel settles the operational state up to a second after the carrier
    // goes; the carrier itself is current.
    const auto carrier = firstLine(dir + "/carrier");
    return !carrier || *carrier != "0";
}

std::uint64_t interfaceSpeed(const std::string& root, const std::string& name) {
    const auto line = firstLine(root + "/sys/class/net/" + name + "/speed");
    if (!line) return 0;
    std::istringstream in(*line);
    long long mbps = 0;
    // -1 (or nothing) where the driver cannot tell.
    if (!(in >> mbps) || mbps <= 0 || mbps > INT_MAX) return 0;
    return static_cast<std::uint64_t>(mbps) * 10000; // 1 Mb/s = 10,000 x 100 b/s
}

} // namespace

LinkStatus ReadLinkStatus(const std::string& root) {
    LinkStatus status;
    std::ifstream routes(root + "/proc/net/route");
    if (!routes) return status;
    // A table read at all is known, even an empty one: the kernel writes not even
    // the heading where a machine (or namespace) has no main routing table, and
    // then nothing leads anywhere.
    status.known = true;
    std::string line;
    std::getline(routes, line); // the heading
    std::optional<std::string> link;
    unsigned long bestMetric = 0;
    while (std::getline(routes, line)) {
        // Iface Destination Gateway Flags RefCnt Use Metric Mask ...; numbers in hex
        // but for the counts and the metric.
        std::istringstream fields(line);
        std::string name;
        unsigned long destination = 0, gateway = 0, flags = 0, refs = 0, use = 0, metric = 0,
                      mask = 0;
        if (!(fields >> name >> std::hex >> destination >> gateway >> flags >> std::dec >> refs >>
              use >> metric >> std::hex >> mask))
            continue;
        if (destination != 0 || mask != 0 || (flags & kRouteUp) == 0 || !plainName(name)) continue;
        if (link && metric >= bestMetric) continue;
        if (!interfaceUp(root, name)) continue;
        link = name;
        bestMetric = metric;
    }
    if (link) {
        status.connected = true;
        status.speed = interfaceSpeed(root, *link);
    }
    return status;
}

} // namespace win
