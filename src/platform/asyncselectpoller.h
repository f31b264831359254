#pragma once
#include "platform/message.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace win {

// The one thread of the process that watches registered sockets (epoll) and posts
// their WSAAsyncSelect notifications. It keeps Winsock's rules: an event is posted
// once and not again until its re-enabling call (FD_READ after recv, FD_ACCEPT after
// accept, FD_WRITE after a send that would block), and at once after that call when
// the condition still holds. Posting happens under the lock that every change of a
// registration takes, so once remove() or detach() returns nothing more is posted
// for that socket or window.
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

    // The re-enabling calls: FD_READ, FD_ACCEPT or FD_WRITE may be posted again.
    void reenable(int fd, long event);
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
        HWND window = nullptr;
        UINT msg = 0;
        long events = 0;
        long enabled = 0; // the events that may be posted now
        bool stream = false;
        bool listening = false;
        bool connectPending = false;
        bool connected = false;
        bool eofSeen = false;
        bool closeDone = false; // the close has been reported (or was not asked for)
        bool parked = false;    // hung up with nothing to post until a re-enabling call
        int pendingConnectError = 0;
        int resetError = 0;
        std::uint32_t armed = 0; // epoll mask installed, 0 = not in the epoll set
    };

    AsyncSelectPoller();
    void run();
    void handle(Registration& reg, std::uint32_t revents);
    void handleStream(Registration& reg, std::uint32_t revents);
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
