// The local port check in a network namespace of its own, so that the only ports
// in use are those the test holds: TCP listeners and bound UDP sockets.
#include "net/shellstate.h"
#include "platform/netnamespace.h"
#include "platform/winsock.h"
#include "support/loopbackports.h"
#include "support/toolsfixture.h"
#include "tools/portcheck/port_chk.h"

#include <future>
#include <linux/capability.h>
#include <stdexcept>
#include <sys/syscall.h>

using testing_support::waitUntil;
using tools::Port_chk;

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

    // Runs `work` on a thread inside the namespace; what that thread starts (a
    // window's thread) stays there.
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
        inside([&] {
            const int fd = ::socket(AF_INET, type, 0);
            const sockaddr_in a = testing_support::loopback(port, address);
            ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0) << port;
            if (type == SOCK_STREAM) {
                ASSERT_EQ(::listen(fd, 4), 0);
            }
            held.push_back(fd);
        });
    }

    std::shared_ptr<ui::ToolWindow> open(bool unprivileged = false) {
        auto w = inside([&] { return desktop->start("Port_chk"); }, unprivileged);
        EXPECT_TRUE(w && waitUntil([&] { return w->isOpen(); }));
        if (w) w->invoke([] {}).get();
        return w;
    }

    // Types the range, picks the type and presses "Go"; the log's texts after.
    static std::vector<std::string> scan(ui::ToolWindow& w, const std::string& first,
                                         const std::string& last, bool udp = false) {
        w.invoke([&] {
             w.applyInput(Port_chk::FirstEntry, first);
             w.applyInput(Port_chk::LastEntry, last);
             w.applyPress(udp ? Port_chk::UdpOption : Port_chk::TcpOption);
             w.applyPress(Port_chk::GoButton);
         }).get();
        std::vector<std::string> texts;
        for (const auto& row : w.model().rows(Port_chk::Log))
            texts.push_back(row.at(1));
        return texts;
    }

    // The payloads of one window's console lines that start with `event`.
    std::vector<std::string> printed(const ui::ToolWindow& w, const std::string& event) {
        std::vector<std::string> out;
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
    struct Case {
        bool udp;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {false, {"TCP: 20000 - 20399", "Port: 20003 in use !", "Port: 20007 in use !", "***"}},
        {true, {"UDP: 20000 - 20399", "Port: 20005 in use !", "***"}},
    };
    for (const Case& c : cases) {
        auto w = open();
        EXPECT_EQ(scan(*w, "20000", "20399", c.udp), c.log);
        EXPECT_EQ(printed(*w, "beep").size(), c.log.size() - 2);
        // The progress is written for each of the 400 ports; a line is printed
        // only when the shown text changes, and the field is cleared at the end.
        std::vector<std::string> progress;
        for (int percent = 0; percent <= 100; ++percent)
            progress.push_back(Port_chk::progressText(static_cast<std::uint64_t>(percent), 100));
        progress.push_back("");
        EXPECT_EQ(printed(*w, "field 6"), progress);
        // Everything but the log was disabled for the scan, and is enabled again.
        std::vector<std::string> disabled = printed(*w, "disable");
        EXPECT_EQ(disabled,
                  (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8", "9"}));
        for (int control = Port_chk::Frame; control <= Port_chk::Log; ++control)
            EXPECT_TRUE(w->model().enabled(control)) << control;
        w->postClose();
        ASSERT_TRUE(waitUntil([&] { return w->isClosed(); }));
    }
}

TEST_F(PortCheck, ARangeEndingAtTheLastPortStopsThere) {
    hold(SOCK_STREAM, 65535);
    auto w = open();
    EXPECT_EQ(scan(*w, "65533", "65535"),
              (std::vector<std::string>{"TCP: 65533 - 65535", "Port: 65535 in use !", "***"}));
    EXPECT_EQ(printed(*w, "field 6").back(), "");
    EXPECT_EQ(printed(*w, "field 6").at(2), "100 %");
    // One port alone is the whole range.
    EXPECT_EQ(scan(*w, "65535", "65535"),
              (std::vector<std::string>{"TCP: 65535 - 65535", "Port: 65535 in use !", "***"}));
}

TEST_F(PortCheck, ReversedZeroAndWiderThanSixteenBitRangesAreRefused) {
    auto w = open();
    const std::pair<const char*, const char*> refused[] = {
        {"8020", "8000"}, {"0", "10"},        {"10", "0"},        {"", "10"},
        {"1", "65536"},   {"65536", "65536"}, {"70000", "65535"}, {"999999", "999999"},
    };
    int beeps = 0;
    for (const auto& [first, last] : refused) {
        w->invoke([&] { w->model().setFocus(Port_chk::LastEntry); }).get();
        EXPECT_TRUE(scan(*w, first, last).empty()) << first << "-" << last;
        EXPECT_EQ(w->model().focus(), Port_chk::FirstEntry) << first << "-" << last;
        EXPECT_EQ(printed(*w, "beep").size(), static_cast<std::size_t>(++beeps));
    }
    EXPECT_TRUE(printed(*w, "disable").empty());
    // Nothing was wrapped into a port: the range as typed is what the next window reads.
    w->postClose();
    ASSERT_TRUE(waitUntil([&] { return w->isClosed(); }));
    EXPECT_NE(
        ScratchDir::read("VARlo.INI").find("[Port check]\r\nPort1=999999\r\nPort2=999999\r\n"),
        std::string::npos);
}

TEST_F(PortCheck, WithoutTheRightToBindLowPortsTheScanEndsAtTheFirstOne) {
    auto w = open(/*unprivileged=*/true);
    for (bool udp : {false, true}) {
        const std::string type = udp ? "UDP" : "TCP";
        EXPECT_EQ(scan(*w, "1000", "1030", udp),
                  (std::vector<std::string>{type + ": 1000 - 1030", "WSAEACCES", "***"}));
        EXPECT_EQ(scan(*w, "1024", "1030", udp),
                  (std::vector<std::string>{type + ": 1024 - 1030", "***"}));
    }
    EXPECT_TRUE(printed(*w, "beep").empty());
}

TEST_F(PortCheck, TheRangeAndTypeAtClosingAreWhatTheNextWindowStartsWith) {
    struct Case {
        const char* ini; // before the window opens
        const char* first;
        const char* last;
        bool tcp, udp;
    };
    const Case cases[] = {
        {"", "8000", "8020", true, false},
        {"[Port check]\r\nPort1=21\r\nPort2=25\r\nTip=UDP\r\n", "21", "25", false, true},
        // The section counts only with its first key; then a missing key reads as 0.
        {"[Port check]\r\nPort1=\r\nPort2=25\r\nTip=UDP\r\n", "8000", "8020", true, false},
        {"[Port check]\r\nPort1=21\r\n", "21", "0", false, false},
    };
    for (const Case& c : cases) {
        ScratchDir::write("VARlo.INI", c.ini);
        auto w = open();
        EXPECT_EQ(w->model().value(Port_chk::FirstEntry), c.first) << c.ini;
        EXPECT_EQ(w->model().value(Port_chk::LastEntry), c.last) << c.ini;
        EXPECT_EQ(w->model().checked(Port_chk::TcpOption), c.tcp) << c.ini;
        EXPECT_EQ(w->model().checked(Port_chk::UdpOption), c.udp) << c.ini;
        EXPECT_NE(w->model().caption().find(" ("), std::string::npos);
        w->postClose();
        ASSERT_TRUE(waitUntil([&] { return w->isClosed(); }));
    }
    auto w = open();
    scan(*w, "20001", "20002", /*udp=*/true);
    w->postClose();
    ASSERT_TRUE(waitUntil([&] { return w->isClosed(); }));
    EXPECT_TRUE(w->model().rows(Port_chk::Log).empty()); // emptied at closing
    EXPECT_NE(ScratchDir::read("VARlo.INI")
                  .find("[Port check]\r\nPort1=20001\r\nPort2=20002\r\nTip=UDP\r\n"),
              std::string::npos);
}
