#include "platform/linkstatus.h"
#include "platform/scratchdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A route line as the kernel writes it: interface, destination, gateway, flags,
// references, use, metric, mask (numbers in hex but for the counts and the metric).
std::string route(const char* iface, const char* flags = "0003", int metric = 0,
                  const char* destination = "00000000", const char* mask = "00000000") {
    std::ostringstream line;
    line << iface << '\t' << destination << "\t010200C0\t" << flags << "\t0\t0\t" << metric << '\t'
         << mask << "\t0\t0\t0";
    return line.str();
}

struct Case {
    const char* name;
    std::vector<std::string> routes;
    // "name operstate carrier speed" for sys/class/net; "-" leaves a file out.
    std::vector<std::string> interfaces;
    bool connected;
    std::uint64_t speed; // hundreds of bits per second
};

const Case kCases[] = {
    {"gigabit", {route("eth0")}, {"eth0 up 1 1000"}, true, 10'000'000},
    {"ten gigabits", {route("eth0")}, {"eth0 up 1 10000"}, true, 100'000'000},
    {"speed unknown", {route("wlan0")}, {"wlan0 up 1 -1"}, true, 0},
    {"no carrier or speed file", {route("tun0")}, {"tun0 up - -"}, true, 0},
    {"no routes", {}, {"eth0 up 1 1000"}, false, 0},
    {"network route only",
     {route("eth0", "0001", 0, "000200C0", "00FFFFFF")},
     {"eth0 up 1 1"},
     false,
     0},
    {"route not up", {route("eth0", "0002")}, {"eth0 up 1 1000"}, false, 0},
    {"interface down", {route("eth0")}, {"eth0 down 0 1000"}, false, 0},
    {"carrier gone, state not yet", {route("eth0")}, {"eth0 up 0 1000"}, false, 0},
    {"state unknown", {route("eth0")}, {"eth0 unknown 1 1000"}, false, 0},
    {"interface gone", {route("eth9")}, {}, false, 0},
    {"lowest metric among the links up",
     {route("eth0", "0003", 0), route("eth1", "0003", 100), route("eth2", "0003", 50)},
     {"eth0 down 0 1000", "eth1 up 1 100", "eth2 up 1 1000"},
     true,
     10'000'000},
    {"unreadable lines passed over",
     {"garbage", "eth0\tzz", route("../eth0"), route("eth0")},
     {"eth0 up 1 100"},
     true,
     1'000'000},
};

void write(const fs::path& file, const std::string& content) {
    fs::create_directories(file.parent_path());
    ScratchDir::write(file, content);
}

} // namespace

TEST(LinkStatus, DefaultRouteThroughAnInterfaceThatIsUpMakesTheConnection) {
    for (const Case& c : kCases) {
        ScratchDir root;
        std::string table = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\n";
        for (const auto& line : c.routes)
            table += line + "\n";
        write(root.path() / "proc/net/route", table);
        for (const auto& spec : c.interfaces) {
            std::istringstream in(spec);
            std::string name, values[3];
            in >> name >> values[0] >> values[1] >> values[2];
            const char* files[] = {"operstate", "carrier", "speed"};
            for (int i = 0; i < 3; ++i)
                if (values[i] != "-")
                    write(root.path() / "sys/class/net" / name / files[i], values[i] + "\n");
        }
        const win::LinkStatus status = win::ReadLinkStatus(root.path().string());
        EXPECT_TRUE(status.known) << c.name;
        EXPECT_EQ(status.connected, c.connected) << c.name;
        EXPECT_EQ(status.speed, c.speed) << c.name;
    }
    // No route table: nothing is known. An empty one (no main table at all) is off line.
    ScratchDir root;
    EXPECT_FALSE(win::ReadLinkStatus(root.path().string()).known);
    write(root.path() / "proc/net/route", "");
    EXPECT_TRUE(win::ReadLinkStatus(root.path().string()).known);
    EXPECT_FALSE(win::ReadLinkStatus(root.path().string()).connected);
}
