// The SYN watcher of the TCP blocker: the check of what a raw socket hands over,
// and the kernel filter with the notification path, run on a loopback of the test's
// own network namespace with segments the test makes itself.
#include "messagerecorder.h"
#include "netnamespace.h"
#include "platform/tcpsynwatcher.h"
#include "socketstest.h"
#include "support/rawsegment.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

using namespace testing_support;

namespace {

std::uint32_t address(const char* dotted) {
    in_addr a{};
    ::inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

struct ParseCase {
    const char* name;
    std::vector<std::uint8_t> packet;
    std::optional<win::TcpSyn> expected;
};

std::vector<std::uint8_t> withByte(std::vector<std::uint8_t> p, std::size_t at, std::uint8_t v) {
    p[at] = v;
    return p;
}

std::vector<std::uint8_t> cut(std::vector<std::uint8_t> p, std::size_t size) {
    p.resize(size);
    return p;
}

} // namespace

TEST(TcpSynParse, OnlyASynWithoutAckFromAWholeHeaderCounts) {
    const Segment syn{"10.0.0.5", 40123, "127.0.0.1", 80, kSyn};
    const win::TcpSyn expected{address("10.0.0.5"), 40123, 80};
    auto with = [&](auto change) {
        Segment s = syn;
        change(s);
        return buildSegment(s);
    };
    const ParseCase cases[] = {
        {"plain SYN", buildSegment(syn), expected},
        {"SYN behind IP options", with([](Segment& s) { s.ipOptionWords = 10; }), expected},
        {"SYN with FIN (no ACK)", with([](Segment& s) { s.flags = kSyn | kFin; }), expected},
        {"SYN-ACK, our own answer", with([](Segment& s) { s.flags = kSyn | kAck; }), {}},
        {"ACK completing a handshake", with([](Segment& s) { s.flags = kAck; }), {}},
        {"RST", with([](Segment& s) { s.flags = kRst; }), {}},
        {"later fragment", with([](Segment& s) { s.fragment = 0x2000 | 185; }), {}},
        {"first fragment of several", with([](Segment& s) { s.fragment = 0x2000; }), expected},
        {"cut before the flags", cut(buildSegment(syn), 20 + 13), {}},
        {"cut after the flags", cut(buildSegment(syn), 20 + 14), expected},
        {"options longer than the packet",
         cut(with([](Segment& s) { s.ipOptionWords = 10; }), 40),
         {}},
        {"IP header length below 20", withByte(buildSegment(syn), 0, 0x44), {}},
        {"IPv6", withByte(buildSegment(syn), 0, 0x65), {}},
        {"UDP", withByte(buildSegment(syn), 9, IPPROTO_UDP), {}},
        {"empty", {}, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(win::parseIncomingSyn(c.packet.data(), c.packet.size()), c.expected) << c.name;
    }
}

// The kernel half: a raw socket with the filter, told of arrivals by the socket
// layer like any socket. Runs in a namespace of its own: no other traffic.
class TcpSynWatch : public SocketsTest {
protected:
    void SetUp() override {
        SocketsTest::SetUp();
        if (::geteuid() != 0) GTEST_SKIP() << "needs root for raw sockets and namespaces";
        m_net = std::make_unique<NetNamespace>("syn");
        if (!m_net->made() || !m_net->enter())
            GTEST_SKIP() << "network namespaces cannot be made here";
    }

    // Waits for the watcher's notifications and reads until `count` SYNs have come
    // or nothing more arrives. One segment a read: what is left must be announced
    // again.
    std::vector<win::TcpSyn> collect(win::TcpSynWatcher& watcher, std::size_t count) {
        std::vector<win::TcpSyn> syns;
        while (syns.size() < count) {
            const auto m = m_window.next(std::chrono::seconds(5));
            if (!m) break;
            EXPECT_EQ(m->wParam, watcher.socket());
            EXPECT_EQ(win::WSAGETSELECTEVENT(m->lParam), win::FD_READ);
            EXPECT_EQ(watcher.read(syns, 1), 1u);
        }
        return syns;
    }

    std::unique_ptr<NetNamespace> m_net;
    MessageRecorder m_window;
};

TEST_F(TcpSynWatch, OnlySynsToTheWatchedPortsArriveAndEachIsToldOnce) {
    win::TcpSynWatcher watcher;
    ASSERT_EQ(watcher.open(), 0);
    ASSERT_EQ(watcher.watch({2001, 2002}), 0);
    ASSERT_EQ(win::WSAAsyncSelect(watcher.socket(), &m_window, 1144, win::FD_READ), 0);
    RawSender sender;
    ASSERT_TRUE(sender.ok());
    // Nothing listens on these ports: the kernel answers each SYN with a reset,
    // which the filter must keep out as well.
    const Segment segments[] = {
        {"127.0.0.1", 50001, "127.0.0.1", 2003, kSyn},        // another port
        {"127.0.0.1", 50002, "127.0.0.1", 2001, kSyn | kAck}, // no request
        {"127.0.0.1", 50003, "127.0.0.1", 2001, kAck},
        {"127.0.0.1", 50004, "127.0.0.1", 2001, kRst},
        {"127.0.0.1", 50005, "127.0.0.1", 2001, kSyn},
        {"127.0.0.2", 50006, "127.0.0.1", 2002, kSyn, 1000, 3}, // behind IP options
        {"127.0.0.1", 50007, "127.0.0.3", 2002, kSyn},          // another address of ours
    };
    for (const auto& s : segments)
        ASSERT_TRUE(sender.send(s));
    const std::vector<win::TcpSyn> expected = {{address("127.0.0.1"), 50005, 2001},
                                               {address("127.0.0.2"), 50006, 2002},
                                               {address("127.0.0.1"), 50007, 2002}};
    EXPECT_EQ(collect(watcher, expected.size()), expected);
    EXPECT_TRUE(m_window.staysQuiet());

    // A new list replaces the old one.
    ASSERT_EQ(watcher.watch({2003}), 0);
    ASSERT_TRUE(sender.send({"127.0.0.1", 50008, "127.0.0.1", 2001, kSyn}));
    ASSERT_TRUE(sender.send({"127.0.0.1", 50009, "127.0.0.1", 2003, kSyn}));
    const std::vector<win::TcpSyn> after = {{address("127.0.0.1"), 50009, 2003}};
    EXPECT_EQ(collect(watcher, after.size()), after);
    EXPECT_TRUE(m_window.staysQuiet());
}
