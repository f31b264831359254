#include "icmpfixture.h"

#include "platform/pathnetwork.h"
#include "tools/icmp/ping_ip.h"
#include "tools/icmp/traceroute.h"
#include "tools/pathmon/path_mon.h"

#include <cstdio>
#include <map>

using namespace icmp_testing;
using tools::Path_mon;
using tools::Ping_ip;
using tools::Traceroute;

namespace {

const std::string kSuccess = "0   [ ip success ]";
const std::string kExpired = "11013   [ ip ttl expired transit ]";

// The hops `traceroute -I -n` lists from the host's namespace, the last one the
// address that answered last.
std::vector<std::string> referenceHops(const NetNamespace& host, const std::string& address) {
    const bool v6 = address.find(':') != std::string::npos;
    const std::string command = "ip netns exec " + host.name() + " traceroute " +
                                (v6 ? "-6 " : "") + "-I -n -q 1 -w 1 -m 8 " + address +
                                " 2>/dev/null";
    std::vector<std::string> hops;
    if (std::FILE* out = ::popen(command.c_str(), "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, out)) {
            int number = 0;
            char hop[64] = {};
            if (std::sscanf(line, " %d %63s", &number, hop) == 2 && hop[0] != '*')
                hops.push_back(hop);
        }
        ::pclose(out);
    }
    return hops;
}

} // namespace

// Ping, traceroute and the path monitor on their own threads in the host's
// namespace of a path through three routers that carries both families, with
// either kind of ICMP socket, and a hosts file of the test's own.
class EchoFamilies : public IcmpFixture, public ::testing::WithParamInterface<win::IcmpSocketKind> {
protected:
    void SetUp() override {
        // Where IPv6 is missing the table cannot hold: it fails rather than skips.
        ASSERT_TRUE(network.ready()) << "the namespaces of the path cannot be made";
        ASSERT_TRUE(network.router(2).ip("-6 route add unreachable 2001:db8:99::/64"));
        ASSERT_TRUE(network.host().sysctl(
            std::string("net.ipv4.ping_group_range=") +
            (GetParam() == win::IcmpSocketKind::Ping ? "\"0 2147483647\"" : "\"1 0\"")));
        ping = open(std::make_unique<Ping_ip>());
        trace = open(std::make_unique<Traceroute>());
        monitor = open(std::make_unique<Path_mon>());
        for (auto* w : {ping.get(), trace.get(), monitor.get()})
            ASSERT_TRUE(enterWithHosts(*w, network.host(), "127.0.0.1 localhost\n"
                                                             "::1 ip6-localhost\n"
                                                             "198.18.1.1 router-one.example\n"
                                                             "2001:db8:1::1 router-one6.example\n"
                                                             "2001:db8:4::2 v6only.example\n"
                                                             "198.18.4.2 both.example\n"
                                                             "2001:db8:4::2 both.example\n"));
    }

    PathNetwork network;
    std::shared_ptr<ui::ToolWindow> ping, trace, monitor;
};

TEST_P(EchoFamilies, EachToolFindsTheHopsTracerouteFinds) {
    const std::map<std::string, std::string> names = {{"::1", "ip6-localhost"},
                                                      {"198.18.1.1", "router-one.example"},
                                                      {"2001:db8:1::1", "router-one6.example"},
                                                      {"2001:db8:4::2", "v6only.example"},
                                                      {"198.18.4.2", "both.example"}};
    struct Case {
        std::string entry;
        std::string address;    // what the entry stands for
        std::string lastStatus; // of the last hop
        bool pingable;          // false: ping and traceroute refuse the entry
    };
    const Case cases[] = {
        {"198.18.4.2", "198.18.4.2", kSuccess, true},
        {"::1", "::1", kSuccess, true},
        {"2001:db8:4::2", "2001:db8:4::2", kSuccess, true},
        {"v6only.example", "2001:db8:4::2", kSuccess, true},
        {"2001:db8:99::1", "2001:db8:99::1", "11002   [ ip dest net unreachable ]", true},
        // A name with both kinds is reached over IPv4, which the ping and the
        // traceroute windows have never resolved.
        {"both.example", "198.18.4.2", kSuccess, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        const std::vector<std::string> hops = referenceHops(network.host(), c.address);
        ASSERT_FALSE(hops.empty());
        if (c.lastStatus == kSuccess) {
            EXPECT_EQ(hops.back(), c.address);
        }

        typeAndPress(*ping, Ping_ip::AddressEntry, c.entry, Ping_ip::PingButton);
        const auto boxes = printed(*ping, "box");
        ASSERT_FALSE(boxes.empty());
        const std::string& box = boxes.back();
        const std::string answered = "||" + c.lastStatus + "|";
        EXPECT_EQ(box.find(c.entry + (c.pingable ? answered : "||Invalid IP Address !")), 10u)
            << box;
        if (c.pingable && c.lastStatus == kSuccess) {
            EXPECT_NE(box.find("|32 bytes|01234567890123456789012345678901"), std::string::npos);
        }

        if (!trace->model().checked(Traceroute::NodeBox))
            trace->invoke([&] { trace->applyPress(Traceroute::NodeBox); }).get();
        typeAndPress(*trace, Traceroute::AddressEntry, c.entry, Traceroute::GoButton);
        const auto rows = trace->model().rows(Traceroute::HopList);
        if (!c.pingable) {
            ASSERT_EQ(rows.size(), 1u);
            EXPECT_EQ(rows[0][1], "Invalid IP Address !");
        } else {
            ASSERT_EQ(rows.size(), hops.size());
            for (std::size_t i = 0; i < rows.size(); ++i) {
                EXPECT_EQ(rows[i][1], hops[i]) << "hop " << i + 1;
                EXPECT_EQ(rows[i][2], names.count(hops[i]) ? names.at(hops[i]) : "?");
                EXPECT_EQ(rows[i][4], i + 1 < rows.size() ? kExpired : c.lastStatus);
            }
        }

        monitor
            ->invoke([&] {
                monitor->applyInput(Path_mon::IntervalEntry, "0.05");
                monitor->applyInput(Path_mon::CountEntry, "5");
                monitor->applyInput(Path_mon::HostEntry, c.entry);
                monitor->applyPress(Path_mon::StartButton);
            })
            .get();
        ASSERT_TRUE(waitUntil(
            [&] { return monitor->model().value(Path_mon::StatusField).rfind("Stopped", 0) == 0; },
            20000));
        // Names come from workers, after the rows they name.
        std::vector<std::string> wanted;
        for (const std::string& hop : hops)
            wanted.push_back(names.count(hop) ? names.at(hop) + " (" + hop + ")" : hop);
        std::vector<std::string> shown;
        waitUntil([&] {
            shown.clear();
            for (const auto& row : monitor->model().rows(Path_mon::HopList))
                shown.push_back(row[1]);
            return shown == wanted;
        });
        EXPECT_EQ(shown, wanted);
        for (const auto& row : monitor->model().rows(Path_mon::HopList))
            EXPECT_EQ(row[3], "5") << row[1];
    }
    win::IcmpSocketKind used = win::IcmpSocketKind::None;
    ping->invoke([&] { used = win::IcmpLastSocketKind(); }).get();
    EXPECT_EQ(used, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Sockets, EchoFamilies,
                         ::testing::Values(win::IcmpSocketKind::Ping, win::IcmpSocketKind::Raw),
                         [](const auto& info) {
                             return info.param == win::IcmpSocketKind::Ping ? "PingSocket"
                                                                            : "RawSocket";
                         });
