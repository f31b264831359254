// The local port check in a network namespace of its own, so that the only ports
// in use are those the test holds: TCP listeners and bound UDP sockets.
#include "net/shellstate.h"
#include "platform/netnamespace.h"
#include "platform/winsock.h"
#include "support/loopbackports.h"
#include "support/selfholder.h"
#include "support/toolsfixture.h"
#include "tools/portcheck/port_chk.h"

#include <future>
#include <linux/capability.h>
#include <stdexcept>
#include <sys/syscall.h>

using testing_support::waitUntil;
using tools::Port_chk;
using Lines = std::vector<std::string>;

namespace {

// This thread alone loses the right to bind the ports below the unprivileged start
// (threads it starts inherit that), as a user without privileges would.
void dropBindPrivilege() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0) throw std::runtime_error("capget");
    data[0].effective &= ~(1U << CAP_NET_BIND_SERVICE);
    data[0].permitted &= ~(1U << CAP_NET_BIND_SERVICE);
    if (::syscall(SYS_capset, &header, data) != 0) throw std::runtime_error("capset");
}

struct PortCheck : testing_support::ToolsFixture {
    NetNamespace ns{"pc"};
    std::vector<int> held;
    const testing_support::SelfHolder me; // holds the ports: its line, broken at 40 characters
    // The last blank that fits is after "user" when the pid is short enough.
    const std::string upToUser = "  held by " + me.command + " (pid " + me.pid + ", user";
    const bool userFits = upToUser.size() <= 40;
    const std::string h1 = userFits ? upToUser : upToUser.substr(0, upToUser.size() - 5),
                      h2 = (userFits ? "    " : "    user ") + me.user + ")";

    PortCheck() {
        win::WSAStartup(0x0101, &shell::SocketsData);
        shell::SocketsStarted = 1;
    }
    ~PortCheck() override {
        desktop->closeAll();
        for (int fd : held)
            ::close(fd);
        win::WSACleanup();
        shell::SocketsStarted = 0;
    }
    void SetUp() override {
        if (!ns.made() || !ns.sysctl("net.ipv4.ip_unprivileged_port_start=1024"))
            GTEST_SKIP() << "network namespaces cannot be made here";
    }

    // Runs `work` on a thread inside the namespace; a window's thread it starts
    // stays there.
    template <typename Fn> auto inside(Fn work, bool unprivileged = false) {
        std::packaged_task<decltype(work())()> task([&] {
            if (!ns.enter()) throw std::runtime_error("setns " + ns.name());
            if (unprivileged) dropBindPrivilege();
            return work();
        });
        auto result = task.get_future();
        std::thread(std::move(task)).join();
        return result.get();
    }

    // Something else holds the port: a TCP listener or a bound UDP socket.
    void hold(int type, int port, const char* address = "0.0.0.0") {
        held.push_back(inside([&] {
            const int fd = ::socket(AF_INET, type, 0);
            const sockaddr_in a = testing_support::loopback(port, address);
            if (::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
                (type == SOCK_STREAM && ::listen(fd, 4) != 0))
                throw std::runtime_error("cannot hold port " + std::to_string(port));
            return fd;
        }));
    }

    std::shared_ptr<ui::ToolWindow> open(bool unprivileged = false) {
        auto w = inside([&] { return desktop->start("Port_chk"); }, unprivileged);
        EXPECT_TRUE(w && waitUntil([&] { return w->isOpen(); }));
        if (w) w->invoke([] {}).get();
        return w;
    }
    void close(const std::shared_ptr<ui::ToolWindow>& w) {
        w->postClose();
        ASSERT_TRUE(waitUntil([&] { return w->isClosed(); }));
    }

    // Types the range, picks the type and presses "Go"; the log's texts after.
    static Lines scan(ui::ToolWindow& w, const std::string& first, const std::string& last,
                      bool udp = false) {
        w.invoke([&] {
             w.applyInput(Port_chk::FirstEntry, first);
             w.applyInput(Port_chk::LastEntry, last);
             w.applyPress(udp ? Port_chk::UdpOption : Port_chk::TcpOption);
             w.applyPress(Port_chk::GoButton);
         }).get();
        return log(w);
    }
    static Lines log(ui::ToolWindow& w) {
        Lines texts;
        for (const auto& row : w.model().rows(Port_chk::Log))
            texts.push_back(row.at(1));
        return texts;
    }

    // The payloads of one window's console lines of one event.
    Lines printed(const ui::ToolWindow& w, const std::string& event) {
        Lines out;
        const std::string prefix = w.name() + " " + event;
        for (const auto& line : console.lines()) {
            if (line == prefix) out.push_back("");
            if (line.rfind(prefix + " ", 0) == 0) out.push_back(line.substr(prefix.size() + 1));
        }
        return out;
    }
};

} // namespace

TEST_F(PortCheck, PortsInUseAreReportedForTheirOwnTypeWithABeepEach) {
    hold(SOCK_STREAM, 20003, "127.0.0.1");
    hold(SOCK_STREAM, 20007);
    hold(SOCK_DGRAM, 20005);
    for (bool udp : {false, true}) {
        auto w = open();
        const Lines log = udp ? Lines{"UDP: 20000 - 20399", "Port: 20005 in use !", h1, h2, "***"}
                              : Lines{"TCP: 20000 - 20399", "Port: 20003 in use !", h1, h2,
                                      "Port: 20007 in use !", h1, h2, "***"};
        EXPECT_EQ(scan(*w, "20000", "20399", udp), log);
        EXPECT_EQ(printed(*w, "beep").size(), udp ? 1u : 2u);
        // The progress is written for each of the 400 ports, printed only when the
        // text shown changes, and cleared at the end.
        Lines progress;
        for (int percent = 0; percent <= 100; ++percent)
            progress.push_back(Port_chk::progressText(static_cast<std::uint64_t>(percent), 100));
        progress.push_back("");
        EXPECT_EQ(printed(*w, "field 6"), progress);
        // Everything but the log was disabled for the scan, and is enabled again.
        EXPECT_EQ(printed(*w, "disable"), (Lines{"1", "2", "3", "4", "5", "6", "7", "8", "9"}));
        EXPECT_EQ(printed(*w, "enable").size(), 9u);
        close(w);
    }
}

TEST_F(PortCheck, RangesRunUpwardsWithinSixteenBitsAndEndAtTheLastPort) {
    hold(SOCK_STREAM, 65535);
    auto w = open();
    struct Case {
        const char* first;
        const char* last;
        Lines log; // empty: refused with a beep and the focus on the first entry
    };
    const Case cases[] = {
        {"65533", "65535", {"TCP: 65533 - 65535", "Port: 65535 in use !", h1, h2, "***"}},
        {"65535", "65535", {"TCP: 65535 - 65535", "Port: 65535 in use !", h1, h2, "***"}},
        {"20001", "20001", {"TCP: 20001 - 20001", "***"}},
        {"8020", "8000", {}},
        {"0", "10", {}},
        {"10", "0", {}},
        {"", "10", {}},
        {"1", "65536", {}},
        {"65536", "65536", {}},
        {"999999", "999999", {}},
    };
    for (const Case& c : cases) {
        const std::size_t beeps = printed(*w, "beep").size();
        const std::size_t ends = printed(*w, "field 6").size();
        w->invoke([&] { w->model().setFocus(Port_chk::LastEntry); }).get();
        // A refused range logs nothing: the previous scan's lines stay.
        const Lines before = log(*w);
        EXPECT_EQ(scan(*w, c.first, c.last), c.log.empty() ? before : c.log)
            << c.first << "-" << c.last;
        if (c.log.empty()) {
            EXPECT_EQ(w->model().focus(), Port_chk::FirstEntry) << c.first << "-" << c.last;
            EXPECT_EQ(printed(*w, "beep").size(), beeps + 1) << c.first << "-" << c.last;
        } else {
            // 100 % after the last port, then cleared.
            const Lines progress = printed(*w, "field 6");
            EXPECT_EQ(Lines(progress.end() - 2, progress.end()), (Lines{"100 %", ""}));
            EXPECT_GT(progress.size(), ends);
        }
    }
    // Nothing was wrapped into a port: the range as typed is what the next window reads.
    close(w);
    EXPECT_NE(
        ScratchDir::read("VARlo.INI").find("[Port check]\r\nPort1=999999\r\nPort2=999999\r\n"),
        std::string::npos);
}

TEST_F(PortCheck, WithoutTheRightToBindLowPortsTheScanEndsAtTheFirstOne) {
    auto w = open(/*unprivileged=*/true);
    for (bool udp : {false, true}) {
        const std::string type = udp ? "UDP" : "TCP";
        EXPECT_EQ(scan(*w, "1000", "1030", udp),
                  (Lines{type + ": 1000 - 1030", "WSAEACCES", "***"}));
        EXPECT_EQ(scan(*w, "1024", "1030", udp), (Lines{type + ": 1024 - 1030", "***"}));
    }
    EXPECT_TRUE(printed(*w, "beep").empty());
}

TEST_F(PortCheck, TheRangeAndTypeAtClosingAreWhatTheNextWindowStartsWith) {
    ScratchDir::write("VARlo.INI", "[Port check]\r\nPort1=\r\nPort2=25\r\nTip=UDP\r\n");
    auto w = open(); // a blank first key: the section does not count
    EXPECT_EQ(w->model().value(Port_chk::FirstEntry) + w->model().value(Port_chk::LastEntry),
              "80008020");
    EXPECT_TRUE(w->model().checked(Port_chk::TcpOption));
    scan(*w, "20001", "20002", /*udp=*/true);
    close(w);
    EXPECT_TRUE(w->model().rows(Port_chk::Log).empty()); // emptied at closing
    auto next = open();
    EXPECT_EQ(next->model().caption().find("Port scan"), std::string::npos); // host (address)
    EXPECT_EQ(next->model().value(Port_chk::FirstEntry), "20001");
    EXPECT_EQ(next->model().value(Port_chk::LastEntry), "20002");
    EXPECT_TRUE(next->model().checked(Port_chk::UdpOption));
    EXPECT_FALSE(next->model().checked(Port_chk::TcpOption));
}
