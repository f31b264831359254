#include "icmpfixture.h"

#include "platform/icmpnetwork.h"
#include "platform/text.h"
#include "settings/settingsfile.h"
#include "tools/icmp/traceroute.h"

#include <netdb.h>
#include <regex>

using namespace icmp_testing;
using tools::Traceroute;

namespace {

const std::string kNoAnswer = "Poku\x9A"
                              "aj neuspje\x9A"
                              "an.";
const ui::Row kNoAnswerRow = {"***", std::string(20, '*'), kNoAnswer, std::string(10, '*'),
                              std::string(17, '*')};
const ui::Row kLimitRow = {"***", std::string(20, '*'), "HOP limit (30) dosegnut.",
                           std::string(10, '*'), std::string(17, '*')};

struct TraceWindow : IcmpFixture {
    std::shared_ptr<ui::ToolWindow> window;

    void start(std::shared_ptr<tools::EchoService> echo = std::make_shared<tools::EchoService>()) {
        window = open(std::make_unique<Traceroute>(std::move(echo)));
    }
    std::vector<ui::Row> trace(const std::string& target, bool node = false) {
        window
            ->invoke([&] {
                if (window->model().checked(Traceroute::NodeBox) != node)
                    window->applyPress(Traceroute::NodeBox);
            })
            .get();
        typeAndPress(*window, Traceroute::AddressEntry, target, Traceroute::GoButton);
        return window->model().rows(Traceroute::HopList);
    }
    int beeps() { return static_cast<int>(printed(*window, "beep").size()); }
};

// Hop n answers from 10.0.0.n with "time exceeded" (a TOS as Linux routers send
// it), and the target from its own address when its hop comes; 0: never.
ScriptedEcho::Script routersThenTarget(int targetHop, int silentFrom = 0) {
    return [=](const ScriptedEcho::Request& r, win::EchoReply& reply) -> win::DWORD {
        if (silentFrom && r.ttl >= silentFrom) {
            reply.STATUS = win::IP_REQ_TIMED_OUT;
            return 0;
        }
        const bool target = r.ttl == targetHop;
        reply.ADDRESS = target ? r.destination : address("10.0.0." + std::to_string(r.ttl));
        reply.STATUS = target ? win::IP_SUCCESS : win::IP_TTL_EXPIRED_TRANSIT;
        reply.ROUNDTRIPTIME = static_cast<std::uint32_t>(r.ttl);
        reply.OPTIONS.TTL = 64;
        reply.OPTIONS.TOS = 0xc0;
        return 1;
    };
}

ui::Row routerRow(int hop) {
    char number[4];
    std::snprintf(number, sizeof number, "%03d", hop);
    return {number, "10.0.0." + std::to_string(hop), "-----", std::to_string(hop),
            "11013   [ ip ttl expired transit ]"};
}

} // namespace

TEST_F(TraceWindow, ThirtyListedHopsEndTheTraceEvenWhenTheLastIsTheTarget) {
    struct Case {
        int targetHop; // 0: farther than 30 hops
        int rows;
    };
    for (const Case c : {Case{0, 31}, Case{30, 31}, Case{29, 29}, Case{31, 31}}) {
        auto echo = std::make_shared<ScriptedEcho>(routersThenTarget(c.targetHop));
        start(echo);
        const auto rows = trace("198.18.0.1");
        ASSERT_EQ(rows.size(), static_cast<std::size_t>(c.rows)) << c.targetHop;
        for (int hop = 1; hop <= std::min(29, c.rows); ++hop) {
            if (hop != c.targetHop) {
                EXPECT_EQ(rows[hop - 1], routerRow(hop)) << hop;
            }
        }
        if (c.targetHop > 0 && c.targetHop <= 30) {
            EXPECT_EQ(rows[c.targetHop - 1][1], "198.18.0.1");
            EXPECT_EQ(rows[c.targetHop - 1][4], "0   [ ip success ]");
        }
        if (c.rows == 31) {
            EXPECT_EQ(rows.back(), kLimitRow) << c.targetHop;
        }
        // One request per hop, each with the reply record's own options block:
        // the hop's time-to-live, the rest as the last reply left it.
        const auto requests = echo->requests();
        ASSERT_EQ(requests.size(), static_cast<std::size_t>(std::min(c.rows, 30)));
        for (std::size_t i = 0; i < requests.size(); ++i) {
            EXPECT_TRUE(requests[i].optionsInReply);
            EXPECT_EQ(requests[i].ttl, static_cast<int>(i + 1));
            EXPECT_EQ(requests[i].tos, i == 0 ? 0 : 0xc0);
            EXPECT_EQ(requests[i].destination, address("198.18.0.1"));
        }
        closeWindow(window);
    }
}

TEST_F(TraceWindow, ASilentHopIsTriedThreeTimesAndEndsTheTrace) {
    auto echo = std::make_shared<ScriptedEcho>(routersThenTarget(0, 3));
    start(echo);
    const auto rows = trace("198.18.0.1");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], routerRow(1));
    EXPECT_EQ(rows[1], routerRow(2));
    EXPECT_EQ(rows[2], kNoAnswerRow);
    std::vector<int> ttls;
    for (const auto& r : echo->requests())
        ttls.push_back(r.ttl);
    EXPECT_EQ(ttls, (std::vector<int>{1, 2, 3, 3, 3}));
    // The busy cursor stands over the whole trace, the input disabled under it.
    std::vector<std::string> marks;
    const std::string prefix = window->name() + " ";
    for (const auto& line : console.lines()) {
        if (line.rfind(prefix, 0) != 0) continue;
        const std::string event = line.substr(prefix.size());
        if (event.rfind("cursor ", 0) == 0 || event == "disable 3" || event == "enable 3")
            marks.push_back(event);
        else if (event.rfind("row 6 ", 0) == 0)
            marks.push_back("row");
    }
    EXPECT_EQ(marks, (std::vector<std::string>{"cursor wait", "disable 3", "row", "row", "row",
                                               "enable 3", "cursor normal"}));
}

TEST_F(TraceWindow, AnInvalidTargetGivesOneRowAndSendsNothing) {
    auto echo = std::make_shared<ScriptedEcho>(routersThenTarget(1));
    start(echo);
    for (const std::string target : {"router.example", "10.0.0", "0.0.0.0", ""}) {
        const auto rows = trace(target);
        ASSERT_EQ(rows.size(), 1u) << target;
        EXPECT_EQ(rows[0][1], "Invalid IP Address !");
    }
    EXPECT_TRUE(echo->requests().empty());
}

TEST_F(TraceWindow, InputIsDisabledWhileTheTraceRunsAndTheRowsAppearHopByHop) {
    auto echo = std::make_shared<ScriptedEcho>(routersThenTarget(4));
    std::vector<std::pair<bool, std::size_t>> seen; // Go enabled, rows listed
    echo->duringRequest([&] {
        seen.emplace_back(window->model().enabled(Traceroute::GoButton),
                          window->model().rowCount(Traceroute::HopList));
    });
    start(echo);
    trace("198.18.0.1");
    EXPECT_EQ(seen, (std::vector<std::pair<bool, std::size_t>>{
                        {false, 0}, {false, 1}, {false, 2}, {false, 3}}));
    for (int c : {Traceroute::Frame, Traceroute::AddressEntry, Traceroute::GoButton,
                  Traceroute::NodeBox, Traceroute::IpPrompt})
        EXPECT_TRUE(window->model().enabled(c)) << c;
    // The window answers other work while a trace is long over.
    EXPECT_EQ(window->invoke([] {}).wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

TEST_F(TraceWindow, SettingsCountOnlyWhenTheirAddressIsThere) {
    struct Case {
        const char* pingTr; // null: missing
        const char* node;
        std::string field;
        bool checked;
    };
    const Case cases[] = {
        {nullptr, "1", "", false},
        {"   ", "1", "", false},
        {"10.0.0.1   ", "1", "10.0.0.1", true},
        {"10.0.0.2", "0", "10.0.0.2", false},
    };
    for (const auto& c : cases) {
        std::filesystem::remove("VARlo.INI");
        if (c.pingTr) WriteSetting("Ping Settings", "PingTr", c.pingTr);
        WriteSetting("Ping Settings", "Node", c.node);
        start();
        EXPECT_EQ(window->model().value(Traceroute::AddressEntry), c.field) << c.field;
        EXPECT_EQ(window->model().checked(Traceroute::NodeBox), c.checked) << c.field;
        closeWindow(window);
    }
    // At close: the field without trailing blanks and the switch.
    start();
    window
        ->invoke([&] {
            window->applyInput(Traceroute::AddressEntry, "198.18.7.7  ");
            window->applyPress(Traceroute::NodeBox);
        })
        .get();
    closeWindow(window);
    EXPECT_EQ(ReadSetting("Ping Settings", "PingTr", ""), "198.18.7.7");
    EXPECT_EQ(ReadSetting("Ping Settings", "Node", ""), "1");
}

TEST_F(TraceWindow, TheLocalHostIsOneHopAndItsNameComesWithABeep) {
    start();
    EXPECT_EQ(window->model().caption(), "TraceRoute");
    auto rows = trace("127.0.0.1");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "001");
    EXPECT_EQ(rows[0][1], "127.0.0.1");
    EXPECT_EQ(rows[0][2], "-----");
    EXPECT_TRUE(std::regex_match(rows[0][3], std::regex("[0-9]+"))) << rows[0][3];
    EXPECT_EQ(rows[0][4], "0   [ ip success ]");
    EXPECT_EQ(beeps(), 0);

    const std::uint32_t loopback = address("127.0.0.1");
    const hostent* host = ::gethostbyaddr(&loopback, 4, AF_INET);
    const std::string name = host ? text::cut(host->h_name, 60) : "?";
    rows = trace("127.0.0.1", true);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][2], name);
    EXPECT_EQ(beeps(), host ? 1 : 0);
}

// Traces through routers made of network namespaces, with either kind of ICMP
// socket, the window's thread inside the host's namespace and its hosts file.
class NamespaceTrace : public TraceWindow,
                       public ::testing::WithParamInterface<win::IcmpSocketKind> {
protected:
    void SetUp() override {
        network = std::make_unique<IcmpNetwork>(
            GetParam() == win::IcmpSocketKind::Ping ? "0 2147483647" : "1 0");
        if (!network->ready()) GTEST_SKIP() << "network namespaces cannot be made here";
        start();
        ASSERT_TRUE(enterWithHosts(*window, network->host, "127.0.0.1 localhost\n"
                                                           "198.18.1.1 router-one.example\n"
                                                           "198.18.3.2 target.example\n"));
    }
    std::unique_ptr<IcmpNetwork> network;
};

TEST_P(NamespaceTrace, EachPathEndsAsItsLastHopAnswers) {
    using R = std::vector<std::pair<std::string, std::string>>; // IP, status
    const std::string expired = "11013   [ ip ttl expired transit ]";
    struct Case {
        const char* target;
        R rows;
    };
    const Case cases[] = {
        {IcmpNetwork::Target,
         {{IcmpNetwork::Router1, expired},
          {IcmpNetwork::Router2, expired},
          {IcmpNetwork::Target, "0   [ ip success ]"}}},
        {IcmpNetwork::Unreachable,
         {{IcmpNetwork::Router1, expired},
          {IcmpNetwork::Router2, "11003   [ ip dest host unreachable ]"}}},
        {IcmpNetwork::NoRoute,
         {{IcmpNetwork::Router1, expired},
          {IcmpNetwork::Router2, "11002   [ ip dest net unreachable ]"}}},
        {IcmpNetwork::Blackhole, {{IcmpNetwork::Router1, expired}, {std::string(20, '*'), ""}}},
    };
    for (const auto& c : cases) {
        const auto started = std::chrono::steady_clock::now();
        const auto rows = trace(c.target);
        const auto took = std::chrono::steady_clock::now() - started;
        ASSERT_EQ(rows.size(), c.rows.size()) << c.target;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i][1], c.rows[i].first) << c.target << " row " << i;
            if (rows[i][0] == "***") {
                EXPECT_EQ(rows[i], kNoAnswerRow);
                // Three attempts of 200 ms each.
                EXPECT_GE(took, std::chrono::milliseconds(590)) << c.target;
                continue;
            }
            char hop[4];
            std::snprintf(hop, sizeof hop, "%03zu", i + 1);
            EXPECT_EQ(rows[i][0], hop);
            EXPECT_EQ(rows[i][2], "-----");
            EXPECT_EQ(rows[i][4], c.rows[i].second) << c.target << " row " << i;
        }
    }
    win::IcmpSocketKind used = win::IcmpSocketKind::None;
    window->invoke([&] { used = win::IcmpLastSocketKind(); }).get();
    EXPECT_EQ(used, GetParam());
}

TEST_P(NamespaceTrace, NodeNamesComeFromTheHostsFileWithABeepEach) {
    const auto rows = trace(IcmpNetwork::Target, true);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][2], "router-one.example");
    EXPECT_EQ(rows[1][2], "?");
    EXPECT_EQ(rows[2][2], "target.example");
    EXPECT_EQ(beeps(), 2);
}

INSTANTIATE_TEST_SUITE_P(Sockets, NamespaceTrace,
                         ::testing::Values(win::IcmpSocketKind::Ping, win::IcmpSocketKind::Raw),
                         [](const auto& info) {
                             return info.param == win::IcmpSocketKind::Ping ? "PingSocket"
                                                                            : "RawSocket";
                         });
