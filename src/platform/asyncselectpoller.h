#pragma once
#include "platform/message.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace win {

// Watches registered sockets (epoll) and posts their WSAAsyncSelect notifications:
// on the one poller thread of the process, or, for a window with a PollGroup, on
// that window's own thread from the group's epoll set. It keeps Winsock's rules: an
// event is posted once and not again until its re-enabling call (FD_READ after
// recv, FD_ACCEPT after accept, FD_WRITE after a send that would block), and at once
// after that call when the condition still holds. Posting happens under the lock
// that every change of a registration takes, so once remove() or detach() returns
// nothing more is posted for that socket or window.
//
// System calls per event are kept close to a bare epoll loop's:
// - Sockets are watched level-triggered, so what epoll reports holds as it looks
//   and no call has to ask the socket again, and they stay in the epoll set while
//   their notification is disabled, so posting and re-enabling cost nothing; only a
//   socket that reports again while disabled is taken out for that condition
//   ("muted") until its re-enabling call. What still holds after that call is
//   reported by the next look.
// - A socket accepted on its window's own thread joins the window's set only when
//   the window's batch of handlers is over: one accepted and closed by the same
//   handler never touches epoll. A closed socket leaves the set with its descriptor.
class AsyncSelectPoller {
public:
    // How long FD_ACCEPT is held back after an accept() that could not take the
    // waiting connection (no descriptor or buffer for it): the listener would
    // otherwise announce the same connection again at once, for ever.
    static constexpr std::chrono::milliseconds kAcceptBackOff{100};

    static AsyncSelectPoller& instance();

    // Registers `fd` (replacing any earlier registration) for `events`; 0 removes it.
    // `connectStarted`: a connect() has been issued on the socket. Returns 0 or a
    // Winsock error code.
    int select(int fd, std::uint64_t stamp, bool stream, bool connectStarted, HWND window, UINT msg,
               long events);
    // `closing`: the descriptor is closed right after, which takes it out of any
    // epoll set by itself.
    void remove(int fd, bool closing = false);
    void detach(HWND window);
    bool isRegistered(int fd) const;

    // Waits up to `timeout` milliseconds on `epollFd` (the poller's own set or a
    // group's) and handles what is ready. Returns the number of ready sockets, or
    // -1 with errno set.
    int poll(int epollFd, int timeout);
    // A group's epoll set, watched by the calling thread (its window's).
    void groupOpened(int epollFd);
    // A group's epoll set is about to close: its registrations stay, watched by
    // nobody, as their window is gone.
    void releaseEpoll(int epollFd);
    // Adds to `epollFd` the sockets accepted on its window's thread since the last
    // call.
    void armPending(int epollFd);

    // The re-enabling calls: FD_READ, FD_ACCEPT or FD_WRITE may be posted again.
    // `conditionMayHold` false: the caller knows the condition ended with its call
    // (a recv that did not fill its buffer took everything there was), so after
    // the peer's close FD_CLOSE is due without a look at the socket.
    void reenable(int fd, long event, bool conditionMayHold = true);
    // An accept() on `fd` failed with a connection still waiting: FD_ACCEPT comes
    // again after kAcceptBackOff rather than at once.
    void backOff(int fd);
    // A connect() started on a registered socket; its outcome comes as FD_CONNECT.
    void connectStarted(int fd);
    // A connect() that failed at once: FD_CONNECT carries `error`.
    void connectFailed(int fd, int error);
    void listening(int fd);
    // `newFd`, just accepted from `listenFd`, takes over the listener's registration.
    void inherit(int listenFd, int newFd, std::uint64_t newStamp);
    // A reset that recv()/send() saw before the poller did, or the one the poller
    // saw (0 when none): the poller reads and so clears the kernel's pending error.
    void noteReset(int fd, int error);
    int resetError(int fd) const;

    // The sockets of `window` whose FD_ACCEPT (listening sockets) or FD_READ
    // (datagram sockets) has been posted and not yet answered by its re-enabling
    // call, in no particular order.
    std::vector<int> announced(HWND window, long event) const;

private:
    struct Registration {
        int fd = -1;
        std::uint64_t stamp = 0;
        int epoll = -1; // the set it is watched in; -1: its window's group is gone
        HWND window = nullptr;
        UINT msg = 0;
        long events = 0;
        long enabled = 0; // the events that may be posted now
        bool stream = false;
        bool listening = false;
        bool connectPending = false;
        bool connected = false;
        bool eofSeen = false;
        bool closeDone = false;  // the close has been reported (or was not asked for)
        bool parked = false;     // hung up with nothing to post until a re-enabling call
        bool armPending = false; // accepted on its window's thread, not yet in the set
        bool backingOff = false; // FD_ACCEPT held back after a failed accept
        bool announced = false;  // see announced()
        int pendingConnectError = 0;
        int resetError = 0;
        std::uint32_t muted = 0; // level-triggered interest withheld while disabled
        std::uint32_t armed = 0; // epoll mask installed, 0 = not in the epoll set
    };
    struct Announced {
        std::vector<int> accept, read;
    };
    struct BackOff {
        std::uint64_t stamp;
        std::chrono::steady_clock::time_point until;
    };

    AsyncSelectPoller();
    void run();
    void wake();
    int backOffTimeout() const;
    void endBackOffs();
    void emplace(const Registration& reg);
    void erase(int fd, bool closing);
    bool renew(Registration& reg, HWND window, UINT msg, long events);
    void handle(Registration& reg, std::uint32_t revents);
    void handleConnected(Registration& reg, std::uint32_t revents);
    void ready(Registration& reg, long event, std::uint32_t bits);
    void recheckRead(Registration& reg);
    void closeOnce(Registration& reg, int error);
    void finishConnect(Registration& reg, std::uint32_t revents);
    std::uint32_t interest(const Registration& reg) const;
    void rearm(Registration& reg);
    void unarm(Registration& reg);
    bool postIfEnabled(Registration& reg, long event, int error);
    void post(const Registration& reg, long event, int error);
    void setAnnounced(Registration& reg, bool on);

    mutable std::mutex m_mutex;
    int m_epoll = -1;
    int m_wake = -1; // an eventfd in m_epoll: a new back-off for the poller thread
    std::unordered_map<int, Registration> m_byFd;
    std::unordered_map<std::uint64_t, int> m_fdByStamp;
    std::unordered_map<int, std::thread::id> m_groupThreads;
    std::vector<std::uint64_t> m_armPending;
    std::unordered_map<HWND, Announced> m_announced;
    std::vector<BackOff> m_backOffs;
};

} // namespace win
