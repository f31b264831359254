// The blockers' hits in the system log. The program runs in a mount namespace of
// its own whose /dev/log is a socket of the test's, so the test receives exactly
// what the standard syslog interface sent; fail2ban's own tester then reads the
// lines with the filter the project ships.
#include "support/loopbackports.h"
#include "support/rawsegment.h"
#include "trapnamespace.h"

#include <regex>
#include <sstream>

#include <poll.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>

using namespace testing_support;

namespace {

// Gives the calling process a /dev/log of its own: /dev seen through an overlay
// whose upper layer is a tmpfs of the namespace, with the test's socket mounted on
// the new entry. Everything is prepared as text first: the child makes system
// calls only.
class OwnDevLog {
public:
    explicit OwnDevLog(const std::string& dir)
        : m_layers(dir + "/layers"), m_upper(m_layers + "/upper"), m_work(m_layers + "/work"),
          m_options("lowerdir=/dev,upperdir=" + m_upper + ",workdir=" + m_work),
          m_socket(dir + "/log.sock") {
        ::mkdir(m_layers.c_str(), 0700);
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", m_socket.c_str());
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~OwnDevLog() {
        if (m_fd >= 0) ::close(m_fd);
    }

    // In the child: false when some step failed.
    bool enter() const {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", m_layers.c_str(), "tmpfs", 0, nullptr) != 0 ||
            ::mkdir(m_upper.c_str(), 0755) != 0 || ::mkdir(m_work.c_str(), 0755) != 0 ||
            ::mount("overlay", "/dev", "overlay", 0, m_options.c_str()) != 0)
            return false;
        const int entry = ::open("/dev/log", O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
        if (entry < 0) return false;
        ::close(entry);
        return ::mount(m_socket.c_str(), "/dev/log", nullptr, MS_BIND, nullptr) == 0;
    }

    // Whether a child can do it here at all.
    bool possible() const {
        if (m_fd < 0) return false;
        const pid_t pid = ::fork();
        if (pid == 0) ::_exit(enter() ? 0 : 1);
        int status = 0;
        return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    // Every datagram waiting now.
    std::vector<std::string> received() const {
        std::vector<std::string> all;
        char buffer[2048];
        for (ssize_t n; (n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT)) >= 0;)
            all.emplace_back(buffer, static_cast<std::size_t>(n));
        return all;
    }

private:
    std::string m_layers, m_upper, m_work, m_options, m_socket;
    int m_fd = -1;
};

struct Setting {
    const char* name;
    std::vector<std::string> args;
    std::string ini;
    bool tcp; // the TCP blocker's hits go to the system log
    bool udp;
};

const Setting kSettings[] = {
    {"CommandLineSendsEveryHitOfBothBlockers", {"--syslog"}, "", true, true},
    {"SettingSendsTheHitsOfItsBlockerOnly",
     {},
     "[Udp block]\r\nSyslog=1\r\n[Tcp block]\r\nSyslog=0\r\n",
     false,
     true},
};

void PrintTo(const Setting& setting, std::ostream* out) {
    *out << setting.name;
}

class SyslogAlerts : public ::testing::TestWithParam<Setting> {
protected:
    ScratchDir dir;
    TrapNamespace trap;
};

std::string run(const std::string& command) {
    const std::string file = "f2b-output.txt";
    if (std::system((command + " >" + file + " 2>/dev/null").c_str()) != 0)
        return "fail2ban failed";
    return ScratchDir::read(file);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        if (!l.empty()) out.push_back(l);
    return out;
}

} // namespace

TEST_P(SyslogAlerts, EveryHitIsOneLineThatTheShippedFail2banFilterMatches) {
    const Setting& setting = GetParam();
    if (::geteuid() != 0) GTEST_SKIP() << "namespaces of the test's own need root";
    if (!trap.ready()) GTEST_SKIP() << "network namespaces cannot be made here";
    const OwnDevLog devLog(dir.path().string());
    if (!devLog.possible())
        GTEST_SKIP() << "a mount namespace with its own /dev/log cannot be made";
    if (std::system("fail2ban-regex --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "fail2ban is not installed";

    ScratchDir::write("Varlo.tcp", "20001, Http\r\n");
    ScratchDir::write("Varlo.udp", "20053, DNS\r\n");
    if (!setting.ini.empty()) ScratchDir::write("VARlo.INI", setting.ini);
    Program& program = trap.start({"WS_TcpB", "WS_UdpB"}, setting.args, [&devLog] {
        if (!devLog.enter()) ::_exit(125);
    });

    // A connection, a half-open probe and a datagram; a connection and a datagram
    // over IPv6.
    int client = -1, sender = -1, client6 = -1, sender6 = -1;
    ASSERT_TRUE(trap.inside([&] {
        client = connectUntilClosed(20001);
        client6 = connectUntilClosed(20001, "::1");
        RawSender raw;
        raw.send({"198.18.0.9", 41009, "127.0.0.1", 20001, kSyn});
        sender = sendDatagram(20053, "ping");
        sender6 = sendDatagram(20053, "ping", "::1");
    }));
    ASSERT_GT(client, 0);
    ASSERT_GT(client6, 0);
    EXPECT_TRUE(hitsSettleAt(program, "WS_TcpB#1", 3));
    EXPECT_TRUE(hitsSettleAt(program, "WS_UdpB#1", 2, 0));

    std::vector<std::string> expected;
    if (setting.tcp) {
        expected.push_back("WS_TcpB hit: TCP port 20001 from 127.0.0.1 port " +
                           std::to_string(client) + " (Http)");
        expected.push_back(
            "WS_TcpB hit: TCP port 20001 from 198.18.0.9 port 41009 (Http) half-open");
        expected.push_back("WS_TcpB hit: TCP port 20001 from ::1 port " + std::to_string(client6) +
                           " (Http)");
    }
    if (setting.udp) {
        expected.push_back("WS_UdpB hit: UDP port 20053 from 127.0.0.1 port " +
                           std::to_string(sender) + " (DNS)");
        expected.push_back("WS_UdpB hit: UDP port 20053 from ::1 port " + std::to_string(sender6) +
                           " (DNS)");
    }
    std::sort(expected.begin(), expected.end());

    // Facility auth (4) and priority warning (4): <36>; the ident with the process.
    static const std::regex form(
        R"(^<36>(\w{3} [ \d]\d \d\d:\d\d:\d\d) (wstoolbox\[\d+\]: (.*))$)");
    std::vector<std::string> messages, logFile;
    for (const std::string& datagram : devLog.received()) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(datagram, m, form)) << datagram;
        messages.push_back(m[3]);
        // As a syslog daemon writes it to auth.log: the host after the time.
        logFile.push_back(std::string(m[1]) + " trap " + std::string(m[2]));
    }
    std::sort(messages.begin(), messages.end());
    EXPECT_EQ(messages, expected);

    // Lines a filter must leave alone: other programs, other texts of ours.
    const std::vector<std::string> others = {
        "Dec  7 10:00:00 trap sshd[7]: WS_TcpB hit: TCP port 22 from 10.1.1.1 port 5 (Ssh)",
        "Dec  7 10:00:01 trap wstoolbox[7]: closing client socket...",
        "Dec  7 10:00:02 trap wstoolbox[7]: WS_TcpB hit: UDP port 53 from 10.1.1.2 port 5 (DNS)",
        "Dec  7 10:00:03 trap wstoolbox[7]: WS_UdpB hit: UDP port 53 from 10.1.1.3 port 5 (DNS) "
        "half-open",
    };
    std::string file;
    for (const auto& l : logFile)
        file += l + "\n";
    for (const auto& l : others)
        file += l + "\n";
    ScratchDir::write("auth.log", file);
    const std::string filter =
        std::string(WS_SOURCE_DIR) + "/examples/fail2ban/filter.d/wstoolbox.conf";
    auto matched = lines(run("fail2ban-regex -r -o msg auth.log " + filter));
    std::sort(matched.begin(), matched.end());
    std::vector<std::string> wanted = logFile;
    std::sort(wanted.begin(), wanted.end());
    EXPECT_EQ(matched, wanted);
    std::vector<std::string> peers;
    static const std::regex from(R"( from (\S+) port )");
    for (const auto& m : messages) {
        std::smatch peer;
        if (std::regex_search(m, peer, from)) peers.push_back(peer[1]);
    }
    auto ips = lines(run("fail2ban-regex -r -o ip auth.log " + filter));
    std::sort(ips.begin(), ips.end());
    std::sort(peers.begin(), peers.end());
    EXPECT_EQ(ips, peers);
}

INSTANTIATE_TEST_SUITE_P(Blockers, SyslogAlerts, ::testing::ValuesIn(kSettings),
                         [](const auto& info) { return std::string(info.param.name); });
