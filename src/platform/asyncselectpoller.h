#pragma once
#include "platform/message.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

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
// Connected stream sockets are watched edge-triggered and armed once: an event that
// comes while its notification is disabled is remembered, and the re-enabling call
// looks at the socket only then (or when the last recv may have left data behind),
// so a message costs no epoll_ctl in the usual case.
class AsyncSelectPoller {
public:
    static AsyncSelectPoller& instance();

    // Registers `fd` (replacing any earlier registration) for `events`; 0 removes it.
    // `connectStarted`: a connect() has been issued on the socket. Returns 0 or a
    // Winsock error code.
    int select(int fd, std::uint64_t stamp, bool stream, bool connectStarted, HWND window,
               UINT msg, long events);
    void remove(int fd);
    void detach(HWND window);
    bool isRegistered(int fd) const;

    // Waits up to `timeout` milliseconds on `epollFd` (the poller's own set or a
    // group's) and handles what is ready. Returns the number of ready sockets, or
    // -1 with errno set.
    int poll(int epollFd, int timeout);
    // A group's epoll set is about to close: its registrations stay, watched by
    // nobody, as their window is gone.
    void releaseEpoll(int epollFd);

    // The re-enabling calls: FD_READ, FD_ACCEPT or FD_WRITE may be posted again.
    // `conditionMayHold` false: the caller knows the condition ended with its call
    // (a recv that did not fill its buffer took everything there was), so only an
    // event that came meanwhile makes the socket worth a look.
    void reenable(int fd, long event, bool conditionMayHold = true);
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
        bool readMissed = false; // data came while FD_READ was disabled (edge-triggered)
        bool urgentSeen = false; // urgent data can cut a recv short with more waiting
        int pendingConnectError = 0;
        int resetError = 0;
        std::uint32_t armed = 0; // epoll mask installed, 0 = not in the epoll set
    };

    AsyncSelectPoller();
    void run();
    void emplace(const Registration& reg);
    void erase(int fd);
    void handle(Registration& reg, std::uint32_t revents);
    void handleConnected(Registration& reg, std::uint32_t revents);
    void recheckRead(Registration& reg);
    void repoll(Registration& reg);
    void closeOnce(Registration& reg, int error);
    void finishConnect(Registration& reg, std::uint32_t revents);
    std::uint32_t interest(const Registration& reg) const;
    void rearm(Registration& reg);
    void unarm(Registration& reg);
    bool postIfEnabled(Registration& reg, long event, int error);
    void post(const Registration& reg, long event, int error);

    mutable std::mutex m_mutex;
    int m_epoll = -1;
    std::unordered_map<int, Registration> m_byFd;
    std::unordered_map<std::uint64_t, int> m_fdByStamp;
};

} // namespace win
