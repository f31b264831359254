#include "platform/winsock.h"
#include "loopback.h"
#include "messagerecorder.h"
#include "socketstest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr win::UINT kNotify = win::WM_USER + 101;

class AsyncSelect : public SocketsTest {
protected:
    // The next notification for `s`: its event and error.
    std::pair<int, int> nextEvent(win::SOCKET s) {
        const auto m = m_window.next();
        if (!m) return {-1, -1};
        EXPECT_EQ(m->msg, kNotify);
        EXPECT_EQ(m->wParam, s);
        return {win::WSAGETSELECTEVENT(m->lParam), win::WSAGETSELECTERROR(m->lParam)};
    }

    // A connected pair: the accepted side and the client.
    std::pair<win::SOCKET, win::SOCKET> connectedPair() {
        const win::SOCKET server = loopback::listener();
        const win::SOCKET client = loopback::connected(loopback::portOf(server));
        const win::SOCKET served = win::accept(server, nullptr, nullptr);
        win::closesocket(server);
        return {served, client};
    }

    MessageRecorder m_window;
};

using Event = std::pair<int, int>;

// A datagram socket with the number `wanted`, which was just freed: new sockets
// take the lowest free numbers, so soon one takes it.
win::SOCKET datagramNumbered(win::SOCKET wanted) {
    std::vector<win::SOCKET> others;
    win::SOCKET s = win::INVALID_SOCKET;
    for (int i = 0; i < 64 && s != wanted; ++i) {
        s = loopback::bound(SOCK_DGRAM);
        if (s != wanted) others.push_back(s);
    }
    for (win::SOCKET other : others) win::closesocket(other);
    return s;
}

TEST_F(AsyncSelect, EachPendingConnectionIsAnnouncedOnceAfterThePreviousAccept) {
    const win::SOCKET server = loopback::listener();
    ASSERT_EQ(win::WSAAsyncSelect(server, &m_window, kNotify, win::FD_ACCEPT), 0);
    const win::SOCKET first = loopback::connected(loopback::portOf(server));
    const win::SOCKET second = loopback::connected(loopback::portOf(server));
    ASSERT_NE(second, win::INVALID_SOCKET);

    EXPECT_EQ(nextEvent(server), Event(win::FD_ACCEPT, 0));
    EXPECT_TRUE(m_window.staysQuiet()) << "FD_ACCEPT repeated before accept";
    const win::SOCKET a = win::accept(server, nullptr, nullptr);
    ASSERT_NE(a, win::INVALID_SOCKET);
    EXPECT_EQ(nextEvent(server), Event(win::FD_ACCEPT, 0));
    EXPECT_TRUE(m_window.staysQuiet());
    const win::SOCKET b = win::accept(server, nullptr, nullptr);
    ASSERT_NE(b, win::INVALID_SOCKET);
    EXPECT_TRUE(m_window.staysQuiet()) << "FD_ACCEPT with no connection waiting";
    // Registered sockets are non-blocking: no connection waiting is WSAEWOULDBLOCK.
    EXPECT_EQ(win::accept(server, nullptr, nullptr), win::INVALID_SOCKET);
    EXPECT_EQ(win::WSAGetLastError(), win::WSAEWOULDBLOCK);
    for (win::SOCKET s : {a, b, first, second, server}) win::closesocket(s);
}

TEST_F(AsyncSelect, ReadIsAnnouncedAgainWhileDataRemainsAfterRecv) {
    auto [served, client] = connectedPair();
    ASSERT_EQ(win::WSAAsyncSelect(served, &m_window, kNotify, win::FD_READ), 0);
    ASSERT_EQ(win::send(client, "0123456789", 10, 0), 10);
    EXPECT_EQ(nextEvent(served), Event(win::FD_READ, 0));
    EXPECT_TRUE(m_window.staysQuiet()) << "FD_READ repeated before recv";
    char buf[16];
    ASSERT_EQ(win::recv(served, buf, 4, 0), 4);
    EXPECT_EQ(nextEvent(served), Event(win::FD_READ, 0));
    ASSERT_EQ(win::recv(served, buf, sizeof buf, 0), 6);
    EXPECT_TRUE(m_window.staysQuiet()) << "FD_READ with nothing to read";
    // Data arriving later is announced again: recv re-enabled the event.
    ASSERT_EQ(win::send(client, "x", 1, 0), 1);
    EXPECT_EQ(nextEvent(served), Event(win::FD_READ, 0));
    win::closesocket(client);
    win::closesocket(served);
}

TEST_F(AsyncSelect, WriteIsAnnouncedOnceOnRegistration) {
    auto [served, client] = connectedPair();
    const win::SOCKET datagram = loopback::bound(SOCK_DGRAM);
    for (win::SOCKET s : {served, datagram}) {
        ASSERT_EQ(win::WSAAsyncSelect(s, &m_window, kNotify, win::FD_WRITE | win::FD_READ), 0);
        EXPECT_EQ(nextEvent(s), Event(win::FD_WRITE, 0));
        ASSERT_EQ(win::send(served, "x", 1, 0), 1);
        EXPECT_TRUE(m_window.staysQuiet()) << "FD_WRITE without a send that would block";
    }
    for (win::SOCKET s : {served, client, datagram}) win::closesocket(s);
}

TEST_F(AsyncSelect, WriteIsAnnouncedAgainAfterASendThatWouldBlock) {
    auto [served, client] = connectedPair();
    ASSERT_EQ(win::WSAAsyncSelect(served, &m_window, kNotify, win::FD_WRITE), 0);
    EXPECT_EQ(nextEvent(served), Event(win::FD_WRITE, 0));
    const std::string block(64 * 1024, 'b');
    int sent = 0;
    while (win::send(served, block.data(), int(block.size()), 0) != win::SOCKET_ERROR) ++sent;
    ASSERT_EQ(win::WSAGetLastError(), win::WSAEWOULDBLOCK);
    EXPECT_TRUE(m_window.staysQuiet(100ms));
    // The peer drains; room comes back and FD_WRITE says so.
    std::atomic<bool> done{false};
    std::thread reader([&, client = client] {
        char buf[65536];
        while (!done.load() && win::recv(client, buf, sizeof buf, 0) > 0) {}
    });
    EXPECT_EQ(nextEvent(served), Event(win::FD_WRITE, 0));
    done.store(true);
    win::shutdown(served, SHUT_RDWR);
    reader.join();
    win::closesocket(client);
    win::closesocket(served);
}

TEST_F(AsyncSelect, ConnectOutcomeComesAsFdConnect) {
    const win::SOCKET server = loopback::listener();
    const win::SOCKET holder = loopback::bound(SOCK_STREAM); // bound, never listening
    const struct {
        win::u_short port;
        int error;
    } cases[] = {{loopback::portOf(server), 0}, {loopback::portOf(holder), win::WSAECONNREFUSED}};
    for (const auto& c : cases) {
        const win::SOCKET client = win::socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_EQ(win::WSAAsyncSelect(client, &m_window, kNotify,
                                      win::FD_CONNECT | win::FD_WRITE | win::FD_READ |
                                          win::FD_CLOSE),
                  0);
        EXPECT_TRUE(m_window.staysQuiet(100ms)) << "notification before connect";
        const auto a = loopback::address(c.port);
        EXPECT_EQ(win::connect(client, loopback::asSockaddr(a), sizeof a), win::SOCKET_ERROR);
        EXPECT_EQ(win::WSAGetLastError(), win::WSAEWOULDBLOCK);
        EXPECT_EQ(nextEvent(client), Event(win::FD_CONNECT, c.error));
        if (c.error == 0) {
            EXPECT_EQ(nextEvent(client), Event(win::FD_WRITE, 0));
        }
        EXPECT_TRUE(m_window.staysQuiet()) << "after connect to port " << c.port;
        win::closesocket(client);
    }
    win::closesocket(holder);
    win::closesocket(server);
}

TEST_F(AsyncSelect, PeerCloseIsAnnouncedOnceAfterItsData) {
    const struct {
        bool abortive;
        int error;
    } cases[] = {{false, 0}, {true, win::WSAECONNRESET}};
    for (const auto& c : cases) {
        auto [served, client] = connectedPair();
        ASSERT_EQ(win::WSAAsyncSelect(served, &m_window, kNotify, win::FD_READ | win::FD_CLOSE),
                  0);
        if (c.abortive) {
            const linger abort{1, 0};
            ASSERT_EQ(win::setsockopt(client, SOL_SOCKET, SO_LINGER,
                                      reinterpret_cast<const char*>(&abort), sizeof abort),
                      0);
            win::closesocket(client);
            EXPECT_EQ(nextEvent(served), Event(win::FD_CLOSE, c.error));
            // The reset stays visible to recv.
            char buf[8];
            EXPECT_EQ(win::recv(served, buf, sizeof buf, 0), win::SOCKET_ERROR);
            EXPECT_EQ(win::WSAGetLastError(), win::WSAECONNRESET);
        } else {
            ASSERT_EQ(win::send(client, "last", 4, 0), 4);
            win::closesocket(client);
            EXPECT_EQ(nextEvent(served), Event(win::FD_READ, 0));
            char buf[8];
            ASSERT_EQ(win::recv(served, buf, sizeof buf, 0), 4);
            EXPECT_EQ(nextEvent(served), Event(win::FD_CLOSE, 0));
            EXPECT_EQ(win::recv(served, buf, sizeof buf, 0), 0);
        }
        EXPECT_TRUE(m_window.staysQuiet()) << (c.abortive ? "reset" : "graceful");
        win::closesocket(served);
    }
}

TEST_F(AsyncSelect, AcceptedSocketInheritsTheListenersRegistration) {
    constexpr win::UINT kOther = win::WM_USER + 7;
    const win::SOCKET server = loopback::listener();
    ASSERT_EQ(win::WSAAsyncSelect(server, &m_window, kOther,
                                  win::FD_ACCEPT | win::FD_READ | win::FD_CLOSE),
              0);
    const win::SOCKET client = loopback::connected(loopback::portOf(server));
    auto m = m_window.next();
    ASSERT_TRUE(m);
    EXPECT_EQ(win::WSAGETSELECTEVENT(m->lParam), win::FD_ACCEPT);
    const win::SOCKET served = win::accept(server, nullptr, nullptr);
    ASSERT_NE(served, win::INVALID_SOCKET);
    char buf[8];
    EXPECT_EQ(win::recv(served, buf, sizeof buf, 0), win::SOCKET_ERROR);
    EXPECT_EQ(win::WSAGetLastError(), win::WSAEWOULDBLOCK) << "accepted socket is blocking";
    ASSERT_EQ(win::send(client, "hi", 2, 0), 2);
    m = m_window.next();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->msg, kOther);
    EXPECT_EQ(m->wParam, served);
    EXPECT_EQ(m->lParam, win::WSAMAKESELECTREPLY(win::FD_READ, 0));
    EXPECT_TRUE(win::NotificationIsCurrent(*m));
    for (win::SOCKET s : {served, client, server}) win::closesocket(s);
}

TEST_F(AsyncSelect, QueuedMessageOfAClosedSocketIsNotCurrentEvenWhenTheNumberIsReused) {
    auto [served, client] = connectedPair();
    ASSERT_EQ(win::WSAAsyncSelect(served, &m_window, kNotify, win::FD_WRITE), 0);
    const auto queued = m_window.next();
    ASSERT_TRUE(queued);
    EXPECT_TRUE(win::NotificationIsCurrent(*queued));
    ASSERT_EQ(win::closesocket(served), 0);
    EXPECT_FALSE(win::NotificationIsCurrent(*queued));
    const win::SOCKET reused = datagramNumbered(served);
    ASSERT_EQ(reused, served) << "descriptor number not reused";
    ASSERT_EQ(win::WSAAsyncSelect(reused, &m_window, kNotify, win::FD_WRITE), 0);
    const auto fresh = m_window.next();
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->wParam, queued->wParam);
    EXPECT_TRUE(win::NotificationIsCurrent(*fresh));
    EXPECT_FALSE(win::NotificationIsCurrent(*queued));
    win::closesocket(reused);
    win::closesocket(client);
}

TEST_F(AsyncSelect, NothingIsPostedAfterClosesocketOrCancelReturns) {
    // A sender keeps data coming while the window reads; the socket is closed in the
    // middle of the traffic.
    for (const bool cancel : {false, true}) {
        auto [served, client] = connectedPair();
        ASSERT_EQ(win::WSAAsyncSelect(served, &m_window, kNotify, win::FD_READ | win::FD_CLOSE),
                  0);
        std::atomic<bool> stop{false};
        std::thread sender([&, client = client] {
            while (!stop.load() && win::send(client, "data", 4, 0) > 0) std::this_thread::yield();
        });
        char buf[256];
        for (int i = 0; i < 20; ++i) {
            ASSERT_TRUE(m_window.next());
            win::recv(served, buf, sizeof buf, 0);
        }
        const auto last = m_window.next();
        ASSERT_TRUE(last);
        const std::uint64_t stamp = last->socketStamp;
        if (cancel) {
            ASSERT_EQ(win::WSAAsyncSelect(served, &m_window, kNotify, 0), 0);
        } else {
            ASSERT_EQ(win::closesocket(served), 0);
        }
        m_window.forbidStamp(stamp);
        win::SOCKET successor = win::INVALID_SOCKET;
        if (cancel) {
            win::recv(served, buf, sizeof buf, 0); // would re-enable FD_READ
        } else {
            // A new socket under the same number, with a recv that leaves data
            // waiting, must not wake anything left of the old one.
            successor = datagramNumbered(served);
            ASSERT_EQ(successor, served);
            const auto to = loopback::address(loopback::portOf(successor));
            for (int i = 0; i < 2; ++i)
                win::sendto(successor, "d", 1, 0, loopback::asSockaddr(to), sizeof to);
            while (win::recv(successor, buf, sizeof buf, 0) != 1) std::this_thread::yield();
        }
        m_window.drainFor(200ms);
        EXPECT_EQ(m_window.latePosts(), 0) << (cancel ? "cancelled" : "closed");
        stop.store(true);
        win::closesocket(cancel ? served : successor);
        win::shutdown(client, SHUT_RDWR);
        sender.join();
        win::closesocket(client);
        m_window.drain();
        m_window.forbidStamp(0);
    }
}

TEST_F(AsyncSelect, DetachedWindowGetsNothingMore) {
    const win::SOCKET server = loopback::listener();
    auto [served, client] = connectedPair();
    {
        MessageRecorder window;
        ASSERT_EQ(win::WSAAsyncSelect(server, &window, kNotify, win::FD_ACCEPT), 0);
        ASSERT_EQ(win::WSAAsyncSelect(served, &window, kNotify, win::FD_READ), 0);
        std::atomic<bool> stop{false};
        std::thread sender([&, client = client] {
            while (!stop.load() && win::send(client, "data", 4, 0) > 0) std::this_thread::yield();
        });
        ASSERT_TRUE(window.next());
        win::WSADetachWindow(&window);
        window.markClosed();
        const win::SOCKET late = loopback::connected(loopback::portOf(server));
        char buf[256];
        win::recv(served, buf, sizeof buf, 0);
        window.drainFor(200ms);
        EXPECT_EQ(window.latePosts(), 0);
        stop.store(true);
        win::shutdown(client, SHUT_RDWR);
        sender.join();
        win::closesocket(late);
    }
    for (win::SOCKET s : {served, client, server}) win::closesocket(s);
}

} // namespace
