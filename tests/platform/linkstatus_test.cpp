#include "platform/linkstatus.h"
#include "platform/scratchdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char* kHeading =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT";

struct Interface {
    std::string operstate;
    std::optional<std::string> carrier;
    std::optional<std::string> speed;
};

struct Case {
    const char* name;
    std::vector<std::string> routes; // lines after the heading
    std::map<std::string, Interface> interfaces;
    bool connected;
    std::uint64_t speed; // hundreds of bits per second
};

// A route line as the kernel writes it: destination, gateway and mask in hex.
std::string route(const std::string& iface, const char* destination, const char* flags,
                  int metric = 0, const char* mask = "00000000") {
    return iface + "\t" + destination + "\t010200C0\t" + flags + "\t0\t0\t" +
           std::to_string(metric) + "\t" + mask + "\t0\t0\t0";
}

const Interface kGigabit{"up", "1", "1000"};

const Case kCases[] = {
    {"default route on a gigabit link",
     {route("eth0", "00000000", "0003")},
     {{"eth0", kGigabit}},
     true,
     10'000'000},
    {"ten gigabits keep their digits",
     {route("eth0", "00000000", "0003")},
     {{"eth0", {"up", "1", "10000"}}},
     true,
     100'000'000},
    {"speed unknown (-1)",
     {route("wlan0", "00000000", "0003")},
     {{"wlan0", {"up", "1", "-1"}}},
     true,
     0},
    {"no speed file", {route("tun0", "00000000", "0003")}, {{"tun0", {"up", {}, {}}}}, true, 0},
    {"no routes at all", {}, {{"eth0", kGigabit}}, false, 0},
    {"only a network route",
     {route("eth0", "000200C0", "0001", 0, "00FFFFFF")},
     {{"eth0", kGigabit}},
     false,
     0},
    {"default route not up", {route("eth0", "00000000", "0002")}, {{"eth0", kGigabit}}, false, 0},
    {"interface down",
     {route("eth0", "00000000", "0003")},
     {{"eth0", {"down", "0", "1000"}}},
     false,
     0},
    {"carrier gone before the state follows",
     {route("eth0", "00000000", "0003")},
     {{"eth0", {"up", "0", "1000"}}},
     false,
     0},
    {"operstate unknown",
     {route("eth0", "00000000", "0003")},
     {{"eth0", {"unknown", "1", "1000"}}},
     false,
     0},
    {"interface gone", {route("eth9", "00000000", "0003")}, {}, false, 0},
    {"the lowest metric of the links that are up",
     {route("eth0", "00000000", "0003", 0), route("eth1", "00000000", "0003", 100),
      route("eth2", "00000000", "0003", 50)},
     {{"eth0", {"down", "0", "1000"}}, {"eth1", {"up", "1", "100"}}, {"eth2", kGigabit}},
     true,
     10'000'000},
    {"lines that do not parse are passed over",
     {"garbage", "eth0\tzz", route("../eth0", "00000000", "0003"),
      route("eth0", "00000000", "0003")},
     {{"eth0", {"up", "1", "100"}}},
     true,
     1'000'000},
};

class FakeRoot {
public:
    explicit FakeRoot(const fs::path& root) : m_root(root) {}

    void write(const fs::path& relative, const std::string& content) const {
        fs::create_directories((m_root / relative).parent_path());
        ScratchDir::write(m_root / relative, content + "\n");
    }
    void build(const Case& c) const {
        std::string table = kHeading;
        for (const auto& line : c.routes)
            table += "\n" + line;
        write("proc/net/route", table);
        for (const auto& [name, i] : c.interfaces) {
            const fs::path dir = fs::path("sys/class/net") / name;
            write(dir / "operstate", i.operstate);
            if (i.carrier) write(dir / "carrier", *i.carrier);
            if (i.speed) write(dir / "speed", *i.speed);
        }
    }

private:
    fs::path m_root;
};

} // namespace

TEST(LinkStatus, DefaultRouteThroughAnInterfaceThatIsUpMakesTheConnection) {
    for (const Case& c : kCases) {
        ScratchDir dir;
        FakeRoot(dir.path()).build(c);
        const win::LinkStatus status = win::ReadLinkStatus(dir.path().string());
        EXPECT_TRUE(status.known) << c.name;
        EXPECT_EQ(status.connected, c.connected) << c.name;
        EXPECT_EQ(status.speed, c.speed) << c.name;
    }
}

TEST(LinkStatus, ARouteTableThatCannotBeReadIsUnknown) {
    ScratchDir dir;
    EXPECT_FALSE(win::ReadLinkStatus(dir.path().string()).known);
    FakeRoot(dir.path()).write("proc/net/route", ""); // empty: not even the heading
    fs::resize_file(dir.path() / "proc/net/route", 0);
    EXPECT_FALSE(win::ReadLinkStatus(dir.path().string()).known);
}
