#include "platform/winsock.h"
#include "messagerecorder.h"
#include "socketstest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <barrier>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

constexpr win::UINT kByName = win::WM_USER + 111;
constexpr win::UINT kByAddr = win::WM_USER + 110;

class HostDatabase : public SocketsTest {
protected:
    // Every pointer of the entry must lie inside the first `length` bytes of the
    // caller's buffer.
    void expectInside(const char* buf, int length) {
        const auto* e = reinterpret_cast<const win::hostent*>(buf);
        auto inside = [&](const void* p) {
            return p >= buf && static_cast<const char*>(p) < buf + length;
        };
        EXPECT_TRUE(inside(e->h_name));
        EXPECT_TRUE(inside(e->h_aliases));
        EXPECT_TRUE(inside(e->h_addr_list));
        for (char** a = e->h_aliases; *a != nullptr; ++a) EXPECT_TRUE(inside(*a));
        for (char** a = e->h_addr_list; *a != nullptr; ++a) {
            EXPECT_TRUE(inside(*a));
            EXPECT_TRUE(inside(*a + e->h_length - 1));
        }
    }

    static std::vector<std::string> addresses(const win::hostent* e) {
        std::vector<std::string> out;
        for (char** a = e->h_addr_list; *a != nullptr; ++a) {
            win::in_addr in{};
            std::memcpy(&in, *a, 4);
            out.push_back(win::inet_ntoa(in));
        }
        return out;
    }

    // The buffer outlives the window, which detaches (stops all lookups) first.
    alignas(8) char m_buf[win::MAXGETHOSTSTRUCT] = {};
    MessageRecorder m_window;
};

TEST_F(HostDatabase, AsyncLookupsFillTheCallersBufferAndPostTheCompletion) {
    const char loopbackAddr[4] = {127, 0, 0, 1};
    for (const bool byName : {true, false}) {
        const win::HANDLE task =
            byName ? win::WSAAsyncGetHostByName(&m_window, kByName, "localhost", m_buf,
                                                sizeof m_buf)
                   : win::WSAAsyncGetHostByAddr(&m_window, kByAddr, loopbackAddr, 4, AF_INET,
                                                m_buf, sizeof m_buf);
        ASSERT_NE(task, nullptr);
        const auto m = m_window.next();
        ASSERT_TRUE(m);
        EXPECT_EQ(m->msg, byName ? kByName : kByAddr);
        EXPECT_EQ(m->wParam, reinterpret_cast<win::WPARAM>(task));
        EXPECT_TRUE(win::NotificationIsCurrent(*m));
        ASSERT_EQ(win::WSAGETASYNCERROR(m->lParam), 0);
        const int length = win::WSAGETASYNCBUFLEN(m->lParam);
        EXPECT_GT(length, int(sizeof(win::hostent)));
        EXPECT_LE(length, int(sizeof m_buf));
        const auto* e = reinterpret_cast<const win::hostent*>(m_buf);
        EXPECT_EQ(e->h_addrtype, AF_INET);
        EXPECT_EQ(e->h_length, 4);
        EXPECT_STREQ(e->h_name, "localhost");
        const auto found = addresses(e);
        EXPECT_NE(std::find(found.begin(), found.end(), "127.0.0.1"), found.end());
        expectInside(m_buf, length);
    }
}

TEST_F(HostDatabase, FailedAsyncLookupPostsItsErrorAndAnEmptyEntry) {
    std::memset(m_buf, 0x5a, sizeof m_buf);
    ASSERT_NE(win::WSAAsyncGetHostByName(&m_window, kByName, "no-such-host.invalid", m_buf,
                                         sizeof m_buf),
              nullptr);
    const auto m = m_window.next(std::chrono::seconds(60));
    ASSERT_TRUE(m);
    const int error = win::WSAGETASYNCERROR(m->lParam);
    EXPECT_GE(error, win::WSAHOST_NOT_FOUND);
    EXPECT_LE(error, win::WSANO_DATA);
    EXPECT_EQ(win::WSAGETASYNCBUFLEN(m->lParam), 0);
    const auto* e = reinterpret_cast<const win::hostent*>(m_buf);
    EXPECT_STREQ(e->h_name, "");
    EXPECT_EQ(e->h_addr_list[0], nullptr);
}

TEST_F(HostDatabase, TooSmallBufferIsLeftUntouchedAndTheNeededLengthReported) {
    constexpr int kGiven = sizeof(win::hostent) + 8;
    std::memset(m_buf, 0x5a, sizeof m_buf);
    ASSERT_NE(win::WSAAsyncGetHostByName(&m_window, kByName, "localhost", m_buf, kGiven), nullptr);
    const auto m = m_window.next();
    ASSERT_TRUE(m);
    EXPECT_EQ(win::WSAGETASYNCERROR(m->lParam), win::WSAENOBUFS);
    const int needed = win::WSAGETASYNCBUFLEN(m->lParam);
    EXPECT_GT(needed, kGiven);
    EXPECT_TRUE(std::all_of(m_buf, m_buf + sizeof m_buf, [](char c) { return c == 0x5a; }));

    // The length it asked for is enough.
    ASSERT_NE(win::WSAAsyncGetHostByName(&m_window, kByName, "localhost", m_buf, needed), nullptr);
    const auto again = m_window.next();
    ASSERT_TRUE(again);
    EXPECT_EQ(win::WSAGETASYNCERROR(again->lParam), 0);
    EXPECT_EQ(win::WSAGETASYNCBUFLEN(again->lParam), needed);
    EXPECT_TRUE(std::all_of(m_buf + needed, m_buf + sizeof m_buf, [](char c) { return c == 0x5a; }));
}

TEST_F(HostDatabase, DetachedOrCancelledLookupNeverPostsNorWrites) {
    for (const bool cancel : {false, true}) {
        MessageRecorder window;
        std::memset(m_buf, 0x5a, sizeof m_buf);
        const win::HANDLE task =
            win::WSAAsyncGetHostByName(&window, kByName, "localhost", m_buf, sizeof m_buf);
        ASSERT_NE(task, nullptr);
        bool dropped = true;
        if (cancel)
            dropped = win::WSACancelAsyncRequest(task) == 0;
        else
            win::WSADetachWindow(&window);
        window.markClosed();
        const auto before = window.drain();
        // Either the lookup completed before the cancel (and posted) or it never does.
        if (dropped && before.empty()) {
            window.drainFor(std::chrono::milliseconds(300));
            EXPECT_TRUE(std::all_of(m_buf, m_buf + sizeof m_buf, [](char c) { return c == 0x5a; }));
        }
        EXPECT_EQ(window.latePosts(), 0) << (cancel ? "cancelled" : "detached");
    }
}

TEST_F(HostDatabase, BlockingLookupsKeepEachThreadsResultApart) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 50;
    std::barrier together(kThreads);
    std::array<int, kThreads> wrong{};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Each thread asks for its own dotted address, which the resolver
            // answers with that text as the name.
            const std::string own = "127.0.0." + std::to_string(t + 1);
            for (int round = 0; round < kRounds; ++round) {
                const win::hostent* e = win::gethostbyname(own.c_str());
                together.arrive_and_wait(); // every thread has its answer now
                if (e == nullptr || own != e->h_name || addresses(e) != std::vector{own})
                    ++wrong[t];
                together.arrive_and_wait();
            }
        });
    }
    for (auto& t : threads) t.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
}

TEST_F(HostDatabase, BlockingHostCalls) {
    const win::hostent* byName = win::gethostbyname("localhost");
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(byName->h_addrtype, AF_INET);
    EXPECT_EQ(addresses(byName).at(0), "127.0.0.1");

    const char addr[4] = {127, 0, 0, 1};
    const win::hostent* byAddr = win::gethostbyaddr(addr, 4, AF_INET);
    ASSERT_NE(byAddr, nullptr);
    EXPECT_STREQ(byAddr->h_name, "localhost");

    EXPECT_EQ(win::gethostbyname("no-such-host.invalid"), nullptr);
    EXPECT_GE(win::WSAGetLastError(), win::WSAHOST_NOT_FOUND);
    EXPECT_LE(win::WSAGetLastError(), win::WSANO_DATA);
    EXPECT_EQ(win::gethostbyaddr(addr, 16, AF_INET6), nullptr);
    EXPECT_EQ(win::WSAGetLastError(), win::WSAEAFNOSUPPORT);

    char own[256];
    ASSERT_EQ(win::gethostname(own, sizeof own), 0);
    char expected[256] = {};
    ::gethostname(expected, sizeof expected - 1);
    EXPECT_STREQ(own, expected);
    EXPECT_EQ(win::gethostname(own, 1), win::SOCKET_ERROR);
    EXPECT_EQ(win::WSAGetLastError(), win::WSAEFAULT);
}

TEST_F(HostDatabase, ProtocolAndServiceLookups) {
    const win::protoent* tcp = win::getprotobynumber(6);
    ASSERT_NE(tcp, nullptr);
    EXPECT_STREQ(tcp->p_name, "tcp");
    const win::protoent* udp = win::getprotobyname("udp");
    ASSERT_NE(udp, nullptr);
    EXPECT_EQ(udp->p_proto, 17);
    EXPECT_EQ(win::getprotobynumber(254), nullptr);
    EXPECT_EQ(win::WSAGetLastError(), win::WSANO_DATA);

    const win::servent* http = win::getservbyport(win::htons(80), "tcp");
    ASSERT_NE(http, nullptr);
    EXPECT_STREQ(http->s_name, "http");
    const win::servent* smtp = win::getservbyname("smtp", nullptr);
    ASSERT_NE(smtp, nullptr);
    EXPECT_EQ(win::ntohs(win::u_short(smtp->s_port)), 25);
    EXPECT_EQ(win::getservbyport(win::htons(1), "udp"), nullptr);
    EXPECT_EQ(win::WSAGetLastError(), win::WSANO_DATA);
}

TEST(DottedAddresses, ConvertBothWays) {
    const struct {
        const char* text;
        win::u_long value; // host order
    } cases[] = {{"127.0.0.1", 0x7f000001},      {"10.1.2.3", 0x0a010203},
                 {"0.0.0.0", 0},                 {"255.255.255.255", INADDR_NONE},
                 {"not an address", INADDR_NONE}, {"", INADDR_NONE},
                 {"1.2.3.256", INADDR_NONE}};
    for (const auto& c : cases) EXPECT_EQ(win::ntohl(win::inet_addr(c.text)), c.value) << c.text;
    win::in_addr in{};
    in.s_addr = win::htonl(0xc0a80a01);
    EXPECT_STREQ(win::inet_ntoa(in), "192.168.10.1");
    EXPECT_EQ(win::htons(0x1234), win::u_short(0x3412));
}

} // namespace
