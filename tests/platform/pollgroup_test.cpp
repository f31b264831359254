#include "platform/asyncselectpoller.h"
#include "platform/pollgroup.h"
#include "platform/winsock.h"
#include "loopback.h"
#include "messagerecorder.h"
#include "socketstest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include <poll.h>
#include <sys/socket.h>

using namespace std::chrono_literals;

namespace {

constexpr win::UINT kNotify = win::WM_USER + 101;

// A window that watches its sockets itself: nothing reaches it until the test, in
// the role of the window's loop, calls dispatch(). Notes the thread of every post.
class GroupWindow : public MessageRecorder {
public:
    GroupWindow() : m_group(std::make_unique<win::PollGroup>()) {}

    win::PollGroup* pollGroup() override { return m_group.get(); }
    void postMessage(const win::Message& message) override {
        {
            std::lock_guard lock(m_threadMutex);
            m_posters.push_back(std::this_thread::get_id());
        }
        MessageRecorder::postMessage(message);
    }

    int dispatch() { return m_group ? m_group->dispatch() : 0; }
    // True when the group's descriptor says a socket is ready, within `wait`.
    bool readable(std::chrono::milliseconds wait = 5s) {
        pollfd p{m_group->fd(), POLLIN, 0};
        return ::poll(&p, 1, int(wait.count())) == 1;
    }
    // Dispatches until something has been posted or the deadline passes.
    std::optional<win::Message> dispatchNext(std::chrono::milliseconds wait = 5s) {
        const auto until = std::chrono::steady_clock::now() + wait;
        do {
            if (readable(10ms)) dispatch();
            if (auto m = next(0ms)) return m;
        } while (std::chrono::steady_clock::now() < until);
        return std::nullopt;
    }
    // The window's loop ends: its group closes.
    void dropGroup() { m_group.reset(); }
    // The window's batch of handlers is over.
    void flush() { m_group->flush(); }
    int epollFd() const { return m_group->fd(); }
    std::vector<std::thread::id> posters() {
        std::lock_guard lock(m_threadMutex);
        return m_posters;
    }

private:
    std::unique_ptr<win::PollGroup> m_group;
    std::mutex m_threadMutex;
    std::vector<std::thread::id> m_posters;
};

class PollGroupTest : public SocketsTest {
protected:
    void SetUp() override {
        SocketsTest::SetUp();
        const win::SOCKET server = loopback::listener();
        m_client = loopback::connected(loopback::portOf(server));
        m_served = win::accept(server, nullptr, nullptr);
        win::closesocket(server);
        ASSERT_NE(m_served, win::INVALID_SOCKET);
    }
    void TearDown() override {
        win::closesocket(m_served);
        win::closesocket(m_client);
        SocketsTest::TearDown();
    }

    static int eventOf(const std::optional<win::Message>& m) {
        return m ? win::WSAGETSELECTEVENT(m->lParam) : -1;
    }

    win::SOCKET m_served = win::INVALID_SOCKET;
    win::SOCKET m_client = win::INVALID_SOCKET;
};

} // namespace

TEST_F(PollGroupTest, NotificationsWaitForTheWindowsOwnDispatchAndArePostedByIt) {
    GroupWindow window;
    // Registered here or from any other thread, the socket joins the window's group.
    for (const bool fromOtherThread : {false, true}) {
        auto select = [&] {
            EXPECT_EQ(win::WSAAsyncSelect(m_served, &window, kNotify, win::FD_READ), 0);
        };
        if (fromOtherThread)
            std::thread(select).join();
        else
            select();
        ASSERT_EQ(win::send(m_client, "ping", 4, 0), 4);
        ASSERT_TRUE(window.readable()) << "group descriptor not readable";
        EXPECT_TRUE(window.staysQuiet(100ms)) << "posted without the window's dispatch";
        EXPECT_EQ(window.dispatch(), 1);
        const auto m = window.next(0ms);
        ASSERT_TRUE(m);
        EXPECT_EQ(m->wParam, m_served);
        EXPECT_EQ(m->lParam, win::WSAMAKESELECTREPLY(win::FD_READ, 0));
        EXPECT_TRUE(win::NotificationIsCurrent(*m));
        char buf[16];
        ASSERT_EQ(win::recv(m_served, buf, sizeof buf, 0), 4);
        EXPECT_EQ(window.dispatch(), 0);
        EXPECT_TRUE(window.staysQuiet(50ms));
    }
    for (const auto& poster : window.posters()) EXPECT_EQ(poster, std::this_thread::get_id());
}

TEST_F(PollGroupTest, WinsockReadAndCloseRulesHoldInAGroup) {
    GroupWindow window;
    ASSERT_EQ(win::WSAAsyncSelect(m_served, &window, kNotify, win::FD_READ | win::FD_CLOSE), 0);
    ASSERT_EQ(win::send(m_client, "0123456789", 10, 0), 10);
    EXPECT_EQ(eventOf(window.dispatchNext()), win::FD_READ);
    ASSERT_EQ(win::send(m_client, "abc", 3, 0), 3);
    window.dispatchNext(200ms);
    EXPECT_TRUE(window.drain().empty()) << "FD_READ repeated before recv";
    char buf[64];
    ASSERT_EQ(win::recv(m_served, buf, 4, 0), 4);
    EXPECT_EQ(eventOf(window.dispatchNext()), win::FD_READ) << "data left after a short recv";
    ASSERT_EQ(win::recv(m_served, buf, sizeof buf, 0), 9);
    window.dispatchNext(200ms);
    EXPECT_TRUE(window.drain().empty()) << "FD_READ with nothing to read";
    // The peer's last data and its close: FD_READ, then FD_CLOSE once it is read.
    ASSERT_EQ(win::send(m_client, "last", 4, 0), 4);
    win::shutdown(m_client, SHUT_WR);
    EXPECT_EQ(eventOf(window.dispatchNext()), win::FD_READ);
    window.dispatchNext(200ms);
    EXPECT_TRUE(window.drain().empty()) << "FD_CLOSE before the data was read";
    ASSERT_EQ(win::recv(m_served, buf, sizeof buf, 0), 4);
    EXPECT_EQ(eventOf(window.dispatchNext()), win::FD_CLOSE);
    EXPECT_EQ(win::recv(m_served, buf, sizeof buf, 0), 0);
    window.dispatchNext(200ms);
    EXPECT_TRUE(window.drain().empty()) << "FD_CLOSE repeated";
}

// Data whose arrival is seen while FD_READ is disabled, after the recv that
// re-enables it has taken what was there: the re-enabling must still announce it,
// whether the window looks at its sockets before the re-enabling or after.
TEST_F(PollGroupTest, DataArrivingBetweenRecvAndItsReenablingIsAnnounced) {
    auto& poller = win::AsyncSelectPoller::instance();
    for (const bool seenBeforeReenabling : {true, false}) {
        GroupWindow window;
        ASSERT_EQ(win::WSAAsyncSelect(m_served, &window, kNotify, win::FD_READ), 0);
        ASSERT_EQ(win::send(m_client, "a", 1, 0), 1);
        ASSERT_EQ(eventOf(window.dispatchNext()), win::FD_READ);
        // recv as win::recv does it, taken apart: the system call took everything...
        char buf[16];
        ASSERT_EQ(::recv(int(m_served), buf, sizeof buf, 0), 1);
        // ...then data comes before FD_READ is re-enabled.
        ASSERT_EQ(win::send(m_client, "b", 1, 0), 1);
        ASSERT_TRUE(window.readable());
        if (seenBeforeReenabling) {
            window.dispatch();
            EXPECT_TRUE(window.drain().empty()) << "FD_READ while disabled";
        }
        poller.reenable(int(m_served), win::FD_READ, false);
        EXPECT_EQ(eventOf(window.dispatchNext()), win::FD_READ)
            << (seenBeforeReenabling ? "seen before" : "seen after") << " re-enabling";
        ASSERT_EQ(win::recv(m_served, buf, sizeof buf, 0), 1);
        window.dispatchNext(100ms);
        EXPECT_TRUE(window.drain().empty());
        ASSERT_EQ(win::WSAAsyncSelect(m_served, &window, kNotify, 0), 0);
    }
}

TEST_F(PollGroupTest, ClosedGroupPostsNothingMoreAndItsSocketsStayRegistered) {
    GroupWindow window;
    ASSERT_EQ(win::WSAAsyncSelect(m_served, &window, kNotify, win::FD_READ | win::FD_CLOSE), 0);
    ASSERT_EQ(win::send(m_client, "one", 3, 0), 3);
    ASSERT_EQ(eventOf(window.dispatchNext()), win::FD_READ);
    window.dropGroup();
    window.markClosed();
    char buf[16];
    ASSERT_EQ(win::recv(m_served, buf, 2, 0), 2); // leaves data: would post at once
    ASSERT_EQ(win::send(m_client, "two", 3, 0), 3);
    window.drainFor(200ms);
    EXPECT_EQ(window.latePosts(), 0);
    // Still registered, so still refused blocking mode, as with Winsock.
    win::u_long blocking = 0;
    EXPECT_EQ(win::ioctlsocket(m_served, FIONBIO, &blocking), win::SOCKET_ERROR);
    EXPECT_EQ(win::WSAGetLastError(), win::WSAEINVAL);
    // Registered again for a window without a group, it is served by the poller thread.
    MessageRecorder other;
    ASSERT_EQ(win::WSAAsyncSelect(m_served, &other, kNotify, win::FD_READ), 0);
    const auto m = other.next(5s);
    ASSERT_TRUE(m);
    EXPECT_EQ(win::WSAGETSELECTEVENT(m->lParam), win::FD_READ);
}

// The peer closes, and a send of ours made before the window looked again is
// answered by a reset: the close came first, so it is reported as graceful; the
// reset shows in the sends after it.
TEST_F(PollGroupTest, PeerCloseIsGracefulEvenWhenOurLaterSendWasResetBeforeTheWindowLooked) {
    GroupWindow window;
    ASSERT_EQ(win::WSAAsyncSelect(m_served, &window, kNotify,
                                  win::FD_READ | win::FD_WRITE | win::FD_CLOSE),
              0);
    ASSERT_EQ(eventOf(window.dispatchNext()), win::FD_WRITE);
    win::closesocket(m_client);
    m_client = win::INVALID_SOCKET;
    ASSERT_EQ(win::send(m_served, "x", 1, 0), 1);
    pollfd p{int(m_served), POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!(p.revents & POLLERR) && std::chrono::steady_clock::now() < deadline)
        ::poll(&p, 1, 10);
    ASSERT_TRUE(p.revents & POLLERR) << "no reset came";
    const auto close = window.dispatchNext();
    ASSERT_TRUE(close);
    EXPECT_EQ(close->lParam, win::WSAMAKESELECTREPLY(win::FD_CLOSE, 0));
    EXPECT_EQ(win::send(m_served, "y", 1, 0), win::SOCKET_ERROR);
    EXPECT_EQ(win::WSAGetLastError(), win::WSAECONNRESET);
    window.dispatchNext(100ms);
    EXPECT_TRUE(window.drain().empty());
}

namespace {

// The descriptors an epoll set watches, as the kernel lists them.
std::set<int> watched(int epollFd) {
    std::ifstream in("/proc/self/fdinfo/" + std::to_string(epollFd));
    std::set<int> fds;
    for (std::string word; in >> word;)
        if (word == "tfd:") {
            int fd = -1;
            in >> fd;
            fds.insert(fd);
        }
    return fds;
}

std::vector<win::SOCKET> sorted(std::vector<win::SOCKET> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// Something waiting on a listener (a connection) or a datagram socket (a datagram),
// and taking it.
struct Waiting {
    win::SOCKET s;
    bool datagram;
    std::vector<win::SOCKET> peers;

    void arrive() {
        const auto to = loopback::address(loopback::portOf(s));
        if (datagram) {
            const win::SOCKET from = loopback::bound(SOCK_DGRAM);
            win::sendto(from, "d", 1, 0, loopback::asSockaddr(to), sizeof to);
            peers.push_back(from);
        } else {
            peers.push_back(loopback::connected(loopback::portOf(s)));
        }
    }
    bool take() {
        if (datagram) {
            char buf[8];
            return win::recvfrom(s, buf, sizeof buf, 0, nullptr, nullptr) == 1;
        }
        const win::SOCKET a = win::accept(s, nullptr, nullptr);
        if (a == win::INVALID_SOCKET) return false;
        win::closesocket(a);
        return true;
    }
    ~Waiting() {
        for (win::SOCKET p : peers)
            win::closesocket(p);
        win::closesocket(s);
    }
};

} // namespace

// Posting and re-enabling cost no epoll_ctl: a listening or datagram socket stays in
// its window's set while its notification is disabled; only when it reports again
// meanwhile is it taken out, until the call that re-enables it.
TEST_F(PollGroupTest, LevelTriggeredSocketsStayWatchedUntilTheyReportWhileDisabled) {
    for (const bool datagram : {false, true}) {
        GroupWindow window;
        Waiting w{datagram ? loopback::bound(SOCK_DGRAM) : loopback::listener(), datagram, {}};
        const long event = datagram ? win::FD_READ : win::FD_ACCEPT;
        ASSERT_EQ(win::WSAAsyncSelect(w.s, &window, kNotify, event), 0);
        const int fd = int(w.s);
        auto inSet = [&] { return watched(window.epollFd()).count(fd) == 1; };
        EXPECT_TRUE(inSet());
        w.arrive();
        w.arrive();
        EXPECT_EQ(eventOf(window.dispatchNext()), event);
        EXPECT_TRUE(inSet()) << "taken out when its notification was posted";
        ASSERT_TRUE(window.readable());
        window.dispatch(); // still ready while disabled: reports again
        EXPECT_TRUE(window.drain().empty());
        EXPECT_FALSE(inSet()) << "kept while it reports again and again";
        ASSERT_TRUE(w.take());
        EXPECT_TRUE(inSet()) << "not back after its re-enabling call";
        EXPECT_EQ(eventOf(window.dispatchNext()), event) << "the second one";
        ASSERT_TRUE(w.take());
        window.dispatchNext(100ms);
        EXPECT_TRUE(window.drain().empty()) << (datagram ? "datagram" : "listener");
        EXPECT_TRUE(inSet());
    }
}

// A connection accepted on its window's own thread joins the window's set when the
// window's batch of handlers is over: accepted and closed by one handler, it never
// touches epoll. What arrived for a kept one meanwhile is announced all the same.
// Accepted on another thread, it joins at once, as the window may be asleep.
TEST_F(PollGroupTest, SocketAcceptedOnTheWindowsThreadJoinsItsSetAfterTheBatch) {
    GroupWindow window;
    const win::SOCKET server = loopback::listener();
    ASSERT_EQ(win::WSAAsyncSelect(server, &window, kNotify,
                                  win::FD_ACCEPT | win::FD_READ | win::FD_CLOSE),
              0);
    auto acceptNext = [&] {
        const win::SOCKET client = loopback::connected(loopback::portOf(server));
        EXPECT_EQ(eventOf(window.dispatchNext()), win::FD_ACCEPT);
        return std::pair{win::accept(server, nullptr, nullptr), client};
    };
    auto [shortLived, client1] = acceptNext();
    ASSERT_NE(shortLived, win::INVALID_SOCKET);
    EXPECT_EQ(watched(window.epollFd()).count(int(shortLived)), 0u);
    win::closesocket(shortLived);
    window.flush();
    EXPECT_EQ(watched(window.epollFd()), std::set<int>{int(server)});

    auto [kept, client2] = acceptNext();
    ASSERT_NE(kept, win::INVALID_SOCKET);
    ASSERT_EQ(win::send(client2, "early", 5, 0), 5);
    EXPECT_EQ(watched(window.epollFd()).count(int(kept)), 0u);
    window.flush();
    EXPECT_EQ(watched(window.epollFd()).count(int(kept)), 1u);
    const auto read = window.dispatchNext();
    EXPECT_EQ(eventOf(read), win::FD_READ);
    EXPECT_EQ(read ? read->wParam : 0, kept);

    const win::SOCKET client3 = loopback::connected(loopback::portOf(server));
    EXPECT_EQ(eventOf(window.dispatchNext()), win::FD_ACCEPT);
    win::SOCKET elsewhere = win::INVALID_SOCKET;
    std::thread([&] { elsewhere = win::accept(server, nullptr, nullptr); }).join();
    ASSERT_NE(elsewhere, win::INVALID_SOCKET);
    EXPECT_EQ(watched(window.epollFd()).count(int(elsewhere)), 1u);
    for (win::SOCKET s : {kept, elsewhere, client1, client2, client3, server})
        win::closesocket(s);
}

// The sockets whose FD_ACCEPT or FD_READ has been posted and not yet answered by its
// call: what a window serving many sockets calls, instead of trying every one. A
// registration renewed unchanged keeps the socket in the set and announces again
// what still waits.
TEST_F(PollGroupTest, AnnouncedSocketsAreThoseWhoseNotificationAwaitsItsCall) {
    GroupWindow window;
    Waiting first{loopback::listener(), false, {}};
    Waiting second{loopback::listener(), false, {}};
    Waiting datagrams{loopback::bound(SOCK_DGRAM), true, {}};
    constexpr long all = win::FD_ACCEPT | win::FD_READ | win::FD_CLOSE;
    for (Waiting* w : {&first, &second, &datagrams})
        ASSERT_EQ(win::WSAAsyncSelect(w->s, &window, kNotify, all), 0);
    EXPECT_TRUE(win::WSAAnnouncedSockets(&window, win::FD_ACCEPT).empty());
    for (Waiting* w : {&first, &second, &datagrams})
        w->arrive();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(window.dispatchNext()) << i;
    EXPECT_EQ(sorted(win::WSAAnnouncedSockets(&window, win::FD_ACCEPT)),
              sorted({first.s, second.s}));
    EXPECT_EQ(win::WSAAnnouncedSockets(&window, win::FD_READ),
              std::vector<win::SOCKET>{datagrams.s});
    ASSERT_TRUE(second.take());
    EXPECT_EQ(win::WSAAnnouncedSockets(&window, win::FD_ACCEPT), std::vector<win::SOCKET>{first.s});
    ASSERT_TRUE(datagrams.take());
    EXPECT_TRUE(win::WSAAnnouncedSockets(&window, win::FD_READ).empty());
    // Nothing waiting any more: a call that finds nothing answers it too.
    EXPECT_FALSE(second.take());
    EXPECT_EQ(win::WSAGetLastError(), win::WSAEWOULDBLOCK);

    ASSERT_EQ(win::WSAAsyncSelect(first.s, &window, kNotify, all), 0);
    EXPECT_EQ(watched(window.epollFd()).count(int(first.s)), 1u);
    const auto again = window.dispatchNext();
    EXPECT_EQ(eventOf(again), win::FD_ACCEPT);
    EXPECT_EQ(again ? again->wParam : 0, first.s);
    ASSERT_TRUE(first.take());
    EXPECT_TRUE(win::WSAAnnouncedSockets(&window, win::FD_ACCEPT).empty());
}

// A byte of urgent data, which a window reading in band never takes, must not keep
// the socket reported: the data before it is announced once and read, and then the
// window's set is quiet.
TEST_F(PollGroupTest, UrgentByteTheWindowNeverReadsKeepsNothingReported) {
    GroupWindow window;
    ASSERT_EQ(win::WSAAsyncSelect(m_served, &window, kNotify, win::FD_READ | win::FD_CLOSE), 0);
    ASSERT_EQ(win::send(m_client, "ab", 2, 0), 2);
    ASSERT_EQ(win::send(m_client, "!", 1, MSG_OOB), 1);
    EXPECT_EQ(eventOf(window.dispatchNext()), win::FD_READ);
    char buf[16];
    EXPECT_EQ(win::recv(m_served, buf, sizeof buf, 0), 2);
    window.dispatchNext(100ms);
    EXPECT_TRUE(window.drain().empty());
    EXPECT_FALSE(window.readable(50ms)) << "the set keeps reporting the socket";
}
