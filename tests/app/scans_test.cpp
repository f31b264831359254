// What a scanner really sends, against the blockers run headless: nmap's connect,
// half-open (SYN) and UDP scans over a range of trapped and free ports, and
// half-open probes the test forges itself. All of it inside a network namespace
// of the test's own.
#include "support/loopbackports.h"
#include "support/rawrights.h"
#include "support/rawsegment.h"
#include "trapnamespace.h"

#include <map>
#include <regex>
#include <set>
#include <sstream>

#include <sys/socket.h>

using namespace testing_support;

namespace {

constexpr int kFirstPort = 20000;
constexpr int kLastPort = 20011;
const std::vector<int> kTrapped = {20001, 20002, 20005, 20007, 20010};

std::string trapList() {
    std::string list;
    for (std::size_t i = 0; i < kTrapped.size(); ++i)
        list += std::to_string(kTrapped[i]) + ", trap " + std::to_string(i + 1) + "\r\n";
    return list;
}

bool trapped(int port) {
    return std::find(kTrapped.begin(), kTrapped.end(), port) != kTrapped.end();
}

// How many probes nmap made to each port, read from its --packet-trace: the lines
// that `line` matches, with the target port as its last group. With a source port
// before it, a line repeating a pair already seen is the same probe.
//  - A connect scan writes "CONN ... => Connected" once for each connect() that
//    completed, which every one to a listening trap does.
//  - A SYN scan sends all its probes from one source port; a SYN repeated while the
//    first is pending is one attempt to the trap as to the target's TCP.
//  - A UDP scan sends again to ports that stay silent, as a trap does: every
//    datagram is a probe.
using ProbeCount = std::map<int, long>;

ProbeCount probesIn(const std::string& trace, const std::regex& line) {
    ProbeCount count;
    std::set<std::pair<std::string, std::string>> seen;
    std::istringstream in(trace);
    for (std::string l; std::getline(in, l);) {
        std::smatch m;
        if (!std::regex_search(l, m, line)) continue;
        if (m.size() > 2 && !seen.insert({m[1], m[2]}).second) continue;
        ++count[std::stoi(m[m.size() - 1])];
    }
    return count;
}

struct Scan {
    const char* name;
    const char* procedure;
    const char* nmapArgs;
    const char* traceLine; // see probesIn()
    const char* hitText;   // what follows the peer in the trap's hit line
    bool needsRoot;
    const char* target = "127.0.0.1"; // the trap's address, also the scanner's
};

// An address of either family is the longest run up to its port's colon.
const Scan kScans[] = {
    {"connect", "WS_TcpB", "-sT", R"(^CONN \(.*:(\d+) => Connected$)", " accept #", false},
    {"halfopen", "WS_TcpB", "-sS", R"(^SENT \(.* TCP \S+:(\d+) > \S+:(\d+) S )", " half-open",
     true},
    // Every datagram carries a few bytes: the trap logs the start of the content.
    {"udp", "WS_UdpB", "-sU --data-string probe", R"(^SENT \(.* UDP \S+:\d+ > \S+:(\d+) )",
     " probe", false},
    // The same scans over IPv6: every trapped port is bound on both families.
    {"connect6", "WS_TcpB", "-6 -sT", R"(^CONN \(.*:(\d+) => Connected$)", " accept #", false,
     "::1"},
    {"halfopen6", "WS_TcpB", "-6 -sS", R"(^SENT \(.* TCP \S+:(\d+) > \S+:(\d+) S )",
     " half-open", true, "::1"},
    {"udp6", "WS_UdpB", "-6 -sU --data-string probe", R"(^SENT \(.* UDP \S+:\d+ > \S+:(\d+) )",
     " probe", false, "::1"},
};

void PrintTo(const Scan& scan, std::ostream* out) {
    *out << scan.name;
}

class NmapScan : public ::testing::TestWithParam<Scan> {
protected:
    ScratchDir dir;
    TrapNamespace trap;
};

} // namespace

TEST_P(NmapScan, EveryProbeToATrappedPortIsOneHitAndFreePortsStaySilent) {
    const Scan& scan = GetParam();
    if (scan.needsRoot && ::geteuid() != 0)
        GTEST_SKIP() << "nmap " << scan.nmapArgs << " sends raw packets: run the tests as root";
    if (!trap.ready()) GTEST_SKIP() << "network namespaces cannot be made here (needs root)";
    if (trap.run("nmap --version").empty()) GTEST_SKIP() << "nmap is not installed";
    const bool tcp = scan.procedure == std::string("WS_TcpB");
    ScratchDir::write(tcp ? "Varlo.tcp" : "Varlo.udp", trapList());
    const std::string window = std::string(scan.procedure) + "#1";
    Program& program = trap.start({scan.procedure});
    ASSERT_NE(program.output().find(std::string(tcp ? "\tTCP" : "\tUDP") +
                                    " port: " + std::to_string(kTrapped.back()) + " trap 5\n"),
              std::string::npos)
        << program.output();

    const std::string trace = trap.run(std::string("nmap -n -Pn --packet-trace --max-retries 2 "
                                                   "--host-timeout 120s -T4 ") +
                                       scan.nmapArgs + " -p " + std::to_string(kFirstPort) + "-" +
                                       std::to_string(kLastPort) + " " + scan.target);
    ASSERT_FALSE(trace.empty()) << "nmap failed";
    const ProbeCount probes = probesIn(trace, std::regex(scan.traceLine));
    long expected = 0;
    for (int port : kTrapped) {
        ASSERT_GT(probes.count(port) ? probes.at(port) : 0, 0) << port << "\n" << trace;
        expected += probes.at(port);
    }
    EXPECT_TRUE(hitsSettleAt(program, window, expected));

    // One line per probe, with the port's record; free ports never appear.
    std::map<int, long> lines;
    const std::string peer = std::string(scan.target) == "::1" ? R"(\[::1\])" : R"(127\.0\.0\.1)";
    const std::regex hit(R"(^(\d+) trap \d - )" + peer + R"(:\d+(.*)$)");
    for (const std::string& text : logTexts(program.output(), window)) {
        std::smatch m;
        if (!std::regex_match(text, m, hit)) continue;
        const int port = std::stoi(m[1]);
        EXPECT_TRUE(trapped(port)) << text;
        EXPECT_EQ(std::string(m[2]).rfind(scan.hitText, 0), 0u) << text;
        ++lines[port];
    }
    for (int port : kTrapped)
        EXPECT_EQ(lines[port], probes.at(port)) << "port " << port << "\n" << trace;
    for (int port = kFirstPort; port <= kLastPort; ++port)
        if (!trapped(port)) {
            EXPECT_EQ(lines.count(port), 0u) << port;
        }
}

INSTANTIATE_TEST_SUITE_P(Blockers, NmapScan, ::testing::ValuesIn(kScans),
                         [](const auto& info) { return std::string(info.param.name); });

namespace {

// A probe the test forges: segments from a sender of its choice. Senders outside
// 127/8 have no route in the namespace, so the trap's SYN-ACK goes nowhere and
// nothing answers for them: the probe is as the test makes it.
struct Forged {
    const char* name;
    std::vector<Segment> segments;
    const char* line; // the trap's line for it, or nullptr for none
    int hits;
};

} // namespace

TEST(ForgedProbes, EachHalfOpenProbeIsOneLineAndOneHitAndACompletedOneIsLoggedOnce) {
    if (::geteuid() != 0) GTEST_SKIP() << "forging segments needs raw sockets: run as root";
    ScratchDir dir;
    TrapNamespace trap;
    if (!trap.ready()) GTEST_SKIP() << "network namespaces cannot be made here";
    ScratchDir::write("Varlo.tcp", "20001, Http\r\n20002, Custom\r\n");
    ScratchDir::write("VARlo.INI", "[Tcp block]\r\nIgnore local=1\r\nAlarm=Alarm.wav\r\n");
    Program& program = trap.start({"WS_TcpB"});
    ASSERT_NE(program.output().find("\tTCP port: 20002 Custom\n"), std::string::npos)
        << program.output();
    ASSERT_EQ(program.output().find("half-open scans cannot be seen"), std::string::npos);

    const Forged probes[] = {
        {"SYN then the scanner's RST",
         {{"198.18.0.5", 41001, "127.0.0.1", 20001, kSyn, 7000},
          {"198.18.0.5", 41001, "127.0.0.1", 20001, kRst, 7001}},
         "20001 Http - 198.18.0.5:41001 half-open",
         1},
        {"SYN left unanswered",
         {{"198.18.0.6", 41002, "127.0.0.1", 20002, kSyn}},
         "20002 Custom - 198.18.0.6:41002 half-open",
         1},
        {"SYN sent twice: one attempt",
         {{"198.18.0.7", 41003, "127.0.0.1", 20001, kSyn},
          {"198.18.0.7", 41003, "127.0.0.1", 20001, kSyn}},
         "20001 Http - 198.18.0.7:41003 half-open",
         1},
        {"SYN to a free port", {{"198.18.0.8", 41004, "127.0.0.1", 20003, kSyn}}, nullptr, 0},
        {"SYN-ACK to a trapped port",
         {{"198.18.0.9", 41005, "127.0.0.1", 20001, kSyn | kAck}},
         nullptr,
         0},
        // "ignore local Ip" is on: counted, never logged.
        {"SYN from 127.0.0.1", {{"127.0.0.1", 41006, "127.0.0.1", 20002, kSyn}}, nullptr, 1},
    };
    int hits = 0;
    ASSERT_TRUE(trap.inside([&] {
        RawSender sender;
        ASSERT_TRUE(sender.ok());
        for (const auto& probe : probes) {
            for (const auto& segment : probe.segments)
                EXPECT_TRUE(sender.send(segment)) << probe.name;
            hits += probe.hits;
        }
    }));
    // A connection the trap completes: an accept, and no half-open line besides. It
    // comes from a local address that "ignore local Ip" does not mean.
    const std::string hostIp = [&] {
        const auto texts = logTexts(program.output(), "WS_TcpB#1");
        for (const auto& t : texts)
            if (t.rfind("Host IP: ", 0) == 0) return t.substr(9);
        return std::string();
    }();
    const char* from = hostIp == "127.0.0.2" ? "127.0.0.3" : "127.0.0.2";
    int client = -1;
    ASSERT_TRUE(trap.inside([&] { client = connectUntilClosed(20001, from); }));
    ASSERT_GT(client, 0);
    ++hits;
    // One from an IPv6 address of the trap's own interfaces: this machine, ignored.
    int own6 = -1;
    ASSERT_TRUE(trap.inside([&] {
        if (std::system("ip addr add 2001:db8::1/128 dev lo nodad") == 0)
            own6 = connectUntilClosed(20002, "2001:db8::1");
    }));
    ASSERT_GT(own6, 0);
    ++hits;

    EXPECT_TRUE(hitsSettleAt(program, "WS_TcpB#1", hits));
    const auto texts = logTexts(program.output(), "WS_TcpB#1");
    auto times = [&](const std::string& text) {
        return std::count(texts.begin(), texts.end(), text);
    };
    for (const auto& probe : probes) {
        if (probe.line) {
            EXPECT_EQ(times(probe.line), 1) << probe.name;
        }
    }
    const std::string peer = std::string(from) + ":" + std::to_string(client);
    long accepts = 0, halfOpen = 0;
    for (const auto& t : texts) {
        accepts += t.rfind("20001 Http - " + peer + " accept #", 0) == 0;
        halfOpen += t.find(" half-open") != std::string::npos;
        EXPECT_EQ(t.find("198.18.0.8"), std::string::npos) << t;
        EXPECT_EQ(t.find("198.18.0.9"), std::string::npos) << t;
        EXPECT_EQ(t.find("127.0.0.1:41006"), std::string::npos) << t;
        EXPECT_EQ(t.find("2001:db8::1"), std::string::npos) << t;
    }
    EXPECT_EQ(accepts, 1);
    EXPECT_EQ(halfOpen, 3) << program.output();
}

TEST(HalfOpenRights, WithoutRawSocketRightsTheTrapSaysSoOnceAndStillTrapsConnections) {
    ScratchDir dir;
    const int port = freePort(SOCK_STREAM);
    ScratchDir::write("Varlo.tcp", std::to_string(port) + ", Trap\r\n");
    Program program({"--headless", "--open", "WS_TcpB"}, {}, [] {
        if (!dropRawSocketRightsOfNextProgram()) ::_exit(125);
    });
    const std::string unseen =
        "\thalf-open scans cannot be seen: run as root or setcap cap_net_raw+ep wstoolbox\n";
    ASSERT_TRUE(program.waitForOutput(unseen)) << program.output();
    // After the set-up lines, once.
    const std::string& out = program.output();
    EXPECT_LT(out.find("\tTCP port: " + std::to_string(port) + " Trap\n"), out.find(unseen));
    EXPECT_EQ(out.find(unseen), out.rfind(unseen));
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = loopback(port);
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
    ::close(fd);
    EXPECT_TRUE(program.waitForOutput(" accept #")) << program.output();
    EXPECT_TRUE(program.waitForOutput(") Hit:1\n"));
}
