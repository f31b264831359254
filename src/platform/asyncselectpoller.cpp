#include "platform/asyncselectpoller.h"

#include "platform/pollgroup.h"
#include "platform/winsock.h"

#include <algorithm>
#include <cerrno>

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace win {

namespace {

constexpr long kAllEvents = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
// The poller thread's wake-up in its own set; socket stamps start at 1.
constexpr std::uint64_t kWakeStamp = 0;
// What a connected socket is watched for while FD_READ is asked: data, and the
// peer's close. Urgent data is not: a byte the window never reads out of band
// would keep it reported for ever.
constexpr std::uint32_t kReadBits = EPOLLIN | EPOLLRDHUP;

int pendingSocketError(int fd) {
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return errno;
    return error;
}

int bytesReadable(int fd) {
    int avail = 0;
    if (::ioctl(fd, FIONREAD, &avail) != 0) return 0;
    return avail;
}

} // namespace

AsyncSelectPoller& AsyncSelectPoller::instance() {
    // Never destroyed: the thread runs for the life of the process.
    static AsyncSelectPoller* poller = new AsyncSelectPoller;
    return *poller;
}

AsyncSelectPoller::AsyncSelectPoller()
    : m_epoll(::epoll_create1(EPOLL_CLOEXEC)), m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (m_epoll >= 0 && m_wake >= 0) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = kWakeStamp;
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &ev);
    }
    std::thread([this] { run(); }).detach();
}

void AsyncSelectPoller::run() {
    for (;;) {
        int timeout = -1;
        {
            std::lock_guard lock(m_mutex);
            timeout = backOffTimeout();
        }
        if (poll(m_epoll, timeout) < 0 && errno != EINTR) return;
        std::lock_guard lock(m_mutex);
        endBackOffs();
    }
}

void AsyncSelectPoller::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(m_wake, &one, sizeof one);
}

int AsyncSelectPoller::poll(int epollFd, int timeout) {
    epoll_event ready[64];
    const int n = ::epoll_wait(epollFd, ready, 64, timeout);
    if (n <= 0) return n;
    std::lock_guard lock(m_mutex);
    for (int i = 0; i < n; ++i) {
        if (ready[i].data.u64 == kWakeStamp) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto got = ::read(m_wake, &count, sizeof count);
            continue;
        }
        // The event names the socket's life, not its descriptor: the descriptor
        // may have been closed and reused since epoll_wait returned. The socket
        // may also have moved to another window's set meanwhile; what the event
        // says about it still holds, and its flags keep it from being told twice.
        auto byStamp = m_fdByStamp.find(ready[i].data.u64);
        if (byStamp == m_fdByStamp.end()) continue;
        Registration& reg = m_byFd.at(byStamp->second);
        handle(reg, ready[i].events);
        rearm(reg);
    }
    return n;
}

void AsyncSelectPoller::handle(Registration& reg, std::uint32_t revents) {
    const long before = reg.enabled;
    const bool wasDone = reg.closeDone;
    const bool wasPending = reg.connectPending;
    if (reg.stream && reg.connected && !reg.connectPending && !reg.listening) {
        handleConnected(reg, revents);
    } else if (!reg.stream) {
        if (revents & (EPOLLIN | EPOLLERR)) ready(reg, FD_READ, EPOLLIN);
        if (revents & EPOLLOUT) ready(reg, FD_WRITE, EPOLLOUT);
    } else if (reg.connectPending) {
        if (revents & (EPOLLOUT | EPOLLERR | EPOLLHUP)) finishConnect(reg, revents);
    } else if (reg.listening) {
        if (revents & (EPOLLIN | EPOLLERR)) ready(reg, FD_ACCEPT, EPOLLIN);
    }
    // Every socket is watched level-triggered. A hang-up or error is reported by
    // epoll whatever the mask; when it led to nothing, the socket waits out of the
    // set until a re-enabling call, or the poller would spin on it.
    const bool changed =
        before != reg.enabled || wasDone != reg.closeDone || wasPending != reg.connectPending;
    if ((revents & (EPOLLERR | EPOLLHUP)) && !changed) reg.parked = true;
}

void AsyncSelectPoller::ready(Registration& reg, long event, std::uint32_t bits) {
    // A condition that holds while its notification is disabled is reported by
    // every look: the socket stops being watched for it until the re-enabling call.
    if ((reg.events & event) && !postIfEnabled(reg, event, 0)) reg.muted |= bits;
}

void AsyncSelectPoller::handleConnected(Registration& reg, std::uint32_t revents) {
    if (!reg.closeDone && (revents & EPOLLERR)) {
        // Reading SO_ERROR clears it, so the reset is kept for recv() and send(),
        // which report it as Winsock does after an aborted connection.
        const int error = pendingSocketError(reg.fd);
        if (error == EPIPE) {
            // The kernel's word for a reset that came after the peer's own close
            // (it answered data we sent since): the close was graceful and is told
            // as such, however late this look; a later send fails as after a reset.
            reg.resetError = WSAECONNRESET;
            reg.eofSeen = true;
        } else if (error != 0) {
            reg.resetError = WSAErrorFromErrno(error);
        }
    }
    if (!reg.closeDone && reg.resetError != 0 && !reg.eofSeen) {
        closeOnce(reg, reg.resetError);
        return;
    }
    if (revents & (EPOLLRDHUP | EPOLLHUP)) reg.eofSeen = true;
    const bool readWanted = (reg.events & FD_READ) != 0;
    if (reg.closeDone || !(revents & (EPOLLIN | EPOLLRDHUP | EPOLLHUP))) {
        // Nothing to read or to close.
    } else if (!reg.eofSeen) {
        // Level-triggered: data is there as epoll looked, now.
        ready(reg, FD_READ, kReadBits);
    } else {
        // After the peer's close, readable also means the end: asked whether data
        // is left, which is announced first; FD_CLOSE follows once it has been read
        // (at once when the window did not ask for FD_READ).
        const int avail = readWanted ? bytesReadable(reg.fd) : 0;
        if (avail > 0)
            ready(reg, FD_READ, kReadBits);
        else
            closeOnce(reg, 0);
    }
    if (revents & EPOLLOUT) ready(reg, FD_WRITE, EPOLLOUT);
}

void AsyncSelectPoller::recheckRead(Registration& reg) {
    if (reg.closeDone) return;
    const int avail = bytesReadable(reg.fd);
    if (avail > 0) {
        postIfEnabled(reg, FD_READ, 0);
        return;
    }
    if (reg.eofSeen) closeOnce(reg, 0);
}

void AsyncSelectPoller::closeOnce(Registration& reg, int error) {
    reg.closeDone = true;
    if (reg.events & FD_CLOSE) post(reg, FD_CLOSE, error);
}

void AsyncSelectPoller::finishConnect(Registration& reg, std::uint32_t revents) {
    int error = reg.pendingConnectError != 0 ? reg.pendingConnectError : pendingSocketError(reg.fd);
    if (error == 0 && (revents & (EPOLLERR | EPOLLHUP))) error = ECONNREFUSED;
    reg.pendingConnectError = 0;
    reg.connectPending = false;
    if (error != 0) {
        // A failed connect reports only FD_CONNECT with its error; the socket is
        // finished and nothing more comes for it.
        reg.closeDone = true;
        if (reg.events & FD_CONNECT) post(reg, FD_CONNECT, WSAErrorFromErrno(error));
        return;
    }
    reg.connected = true;
    if (reg.events & FD_CONNECT) post(reg, FD_CONNECT, 0);
    // FD_WRITE follows the connect once the socket is writable.
    reg.enabled |= FD_WRITE;
}

std::uint32_t AsyncSelectPoller::interest(const Registration& reg) const {
    if (reg.epoll < 0 || reg.armPending) return 0;
    if (reg.parked) return 0;
    // Level-triggered, and the same whether the notification is enabled or not,
    // but for what reported while disabled.
    std::uint32_t mask = 0;
    if (reg.stream && reg.connected && !reg.connectPending && !reg.listening) {
        if (!reg.closeDone) {
            if (reg.events & FD_READ)
                mask |= kReadBits;
            else if (reg.events & FD_CLOSE)
                mask |= EPOLLRDHUP;
        }
        if ((reg.events & FD_WRITE) && reg.resetError == 0) mask |= EPOLLOUT;
    } else if (!reg.stream) {
        if (reg.events & FD_READ) mask |= EPOLLIN;
        if (reg.events & FD_WRITE) mask |= EPOLLOUT;
    } else if (reg.listening) {
        if ((reg.events & FD_ACCEPT) && !reg.backingOff) mask |= EPOLLIN;
    } else if (reg.connectPending) {
        // A stream socket neither connected nor connecting counts as hung up to
        // epoll: it stays out of the set.
        mask |= EPOLLOUT;
    }
    return mask & ~reg.muted;
}

void AsyncSelectPoller::rearm(Registration& reg) {
    const std::uint32_t mask = interest(reg);
    if (mask == reg.armed) return;
    if (mask == 0) {
        unarm(reg);
        return;
    }
    epoll_event ev{};
    ev.events = mask;
    ev.data.u64 = reg.stamp;
    int op = reg.armed == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
    if (::epoll_ctl(reg.epoll, op, reg.fd, &ev) != 0) {
        op = errno == EEXIST ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
        if (::epoll_ctl(reg.epoll, op, reg.fd, &ev) != 0) return;
    }
    reg.armed = mask;
}

void AsyncSelectPoller::unarm(Registration& reg) {
    if (reg.armed == 0) return;
    ::epoll_ctl(reg.epoll, EPOLL_CTL_DEL, reg.fd, nullptr);
    reg.armed = 0;
}

bool AsyncSelectPoller::postIfEnabled(Registration& reg, long event, int error) {
    if (!(reg.events & event) || !(reg.enabled & event)) return false;
    reg.enabled &= ~event;
    if (event == FD_ACCEPT || event == FD_READ) setAnnounced(reg, true);
    post(reg, event, error);
    return true;
}

void AsyncSelectPoller::setAnnounced(Registration& reg, bool on) {
    // Kept for the sockets whose notification says something is waiting to be
    // taken: listeners (FD_ACCEPT) and datagram sockets (FD_READ).
    if (reg.announced == on || (reg.stream && !reg.listening)) return;
    reg.announced = on;
    Announced& all = m_announced[reg.window];
    std::vector<int>& fds = reg.listening ? all.accept : all.read;
    if (on) {
        fds.push_back(reg.fd);
    } else if (auto it = std::find(fds.begin(), fds.end(), reg.fd); it != fds.end()) {
        *it = fds.back();
        fds.pop_back();
    }
}

void AsyncSelectPoller::post(const Registration& reg, long event, int error) {
    // A registration whose window's group has closed has nobody to tell.
    if (reg.epoll < 0) return;
    reg.window->postMessage(
        Message{reg.msg, WPARAM(reg.fd), WSAMAKESELECTREPLY(event, error), reg.stamp});
}

void AsyncSelectPoller::emplace(const Registration& reg) {
    erase(reg.fd, false);
    auto [it, inserted] = m_byFd.emplace(reg.fd, reg);
    m_fdByStamp[reg.stamp] = reg.fd;
    rearm(it->second);
}

void AsyncSelectPoller::erase(int fd, bool closing) {
    auto it = m_byFd.find(fd);
    if (it == m_byFd.end()) return;
    // A descriptor that is being closed leaves the epoll set with its close; an
    // event already fetched for it finds no stamp. One that stays open is taken out.
    if (!closing) unarm(it->second);
    setAnnounced(it->second, false);
    m_fdByStamp.erase(it->second.stamp);
    m_byFd.erase(it);
}

bool AsyncSelectPoller::renew(Registration& reg, HWND window, UINT msg, long events) {
    // Asked again with the same window, message and events: everything is enabled
    // again, as after a new registration, and what holds now is reported by the next
    // look, since these sockets stay in their set. Only for the level-triggered kinds,
    // whose state is all in the flags below.
    if (reg.window != window || reg.msg != msg || reg.events != events ||
        (reg.stream && !reg.listening))
        return false;
    PollGroup* group = window->pollGroup();
    const int epoll = group != nullptr && group->fd() >= 0 ? group->fd() : m_epoll;
    if (reg.epoll != epoll) return false;
    reg.enabled = kAllEvents;
    reg.muted = 0;
    reg.parked = false;
    rearm(reg);
    return true;
}

int AsyncSelectPoller::select(int fd, std::uint64_t stamp, bool stream, bool connectStarted,
                              HWND window, UINT msg, long events) {
    std::lock_guard lock(m_mutex);
    if (auto it = m_byFd.find(fd); it != m_byFd.end() && it->second.stamp == stamp && events != 0 &&
                                   renew(it->second, window, msg, events & kAllEvents))
        return 0;
    erase(fd, false);
    if (events == 0) return 0;
    Registration reg;
    reg.fd = fd;
    reg.stamp = stamp;
    // Asked under the lock: a group that is going away releases its set under the
    // same lock, so the set stays open while the socket is added to it.
    PollGroup* group = window->pollGroup();
    reg.epoll = group != nullptr && group->fd() >= 0 ? group->fd() : m_epoll;
    reg.window = window;
    reg.msg = msg;
    reg.events = events & kAllEvents;
    // A new registration starts with every event enabled: whatever holds now is
    // posted once, as after Winsock's own WSAAsyncSelect.
    reg.enabled = kAllEvents;
    reg.stream = stream;
    if (stream) {
        int accepting = 0;
        socklen_t len = sizeof accepting;
        reg.listening =
            ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &len) == 0 && accepting != 0;
        sockaddr_storage peer{};
        socklen_t peerLen = sizeof peer;
        if (!reg.listening) {
            reg.connected = ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) == 0;
            reg.connectPending = !reg.connected && connectStarted;
        }
    }
    emplace(reg);
    return 0;
}

void AsyncSelectPoller::remove(int fd, bool closing) {
    std::lock_guard lock(m_mutex);
    erase(fd, closing);
}

void AsyncSelectPoller::detach(HWND window) {
    std::lock_guard lock(m_mutex);
    for (auto it = m_byFd.begin(); it != m_byFd.end();) {
        if (it->second.window != window) {
            ++it;
            continue;
        }
        unarm(it->second);
        m_fdByStamp.erase(it->second.stamp);
        it = m_byFd.erase(it);
    }
    m_announced.erase(window);
}

void AsyncSelectPoller::groupOpened(int epollFd) {
    std::lock_guard lock(m_mutex);
    m_groupThreads[epollFd] = std::this_thread::get_id();
}

void AsyncSelectPoller::releaseEpoll(int epollFd) {
    std::lock_guard lock(m_mutex);
    m_groupThreads.erase(epollFd);
    for (auto& [fd, reg] : m_byFd) {
        if (reg.epoll != epollFd) continue;
        unarm(reg);
        reg.epoll = -1;
        reg.armPending = false;
    }
}

void AsyncSelectPoller::armPending(int epollFd) {
    std::lock_guard lock(m_mutex);
    auto keep = m_armPending.begin();
    for (const std::uint64_t stamp : m_armPending) {
        auto byStamp = m_fdByStamp.find(stamp);
        if (byStamp == m_fdByStamp.end()) continue; // closed before it was armed
        Registration& reg = m_byFd.at(byStamp->second);
        if (!reg.armPending) continue;
        if (reg.epoll != epollFd) {
            *keep++ = stamp;
            continue;
        }
        reg.armPending = false;
        rearm(reg);
    }
    m_armPending.erase(keep, m_armPending.end());
}

bool AsyncSelectPoller::isRegistered(int fd) const {
    std::lock_guard lock(m_mutex);
    return m_byFd.count(fd) > 0;
}

std::vector<int> AsyncSelectPoller::announced(HWND window, long event) const {
    std::lock_guard lock(m_mutex);
    auto it = m_announced.find(window);
    if (it == m_announced.end()) return {};
    return event == FD_ACCEPT ? it->second.accept : it->second.read;
}

void AsyncSelectPoller::reenable(int fd, long event, bool conditionMayHold) {
    std::lock_guard lock(m_mutex);
    auto it = m_byFd.find(fd);
    if (it == m_byFd.end()) return;
    Registration& reg = it->second;
    reg.enabled |= event;
    if (event == FD_ACCEPT || event == FD_READ) setAnnounced(reg, false);
    reg.parked = false;
    if (event == FD_READ || event == FD_ACCEPT) reg.muted &= ~kReadBits;
    if (event == FD_WRITE) reg.muted &= ~std::uint32_t(EPOLLOUT);
    // After the peer's close the end is told once the data has been read: a recv
    // that took less than it asked for took the last of it; any other is checked.
    const bool connected = reg.stream && reg.connected && !reg.connectPending && !reg.listening;
    if (connected && event == FD_READ && reg.eofSeen && !reg.closeDone) {
        if (conditionMayHold)
            recheckRead(reg);
        else
            closeOnce(reg, 0);
    }
    rearm(reg);
}

void AsyncSelectPoller::backOff(int fd) {
    std::lock_guard lock(m_mutex);
    auto it = m_byFd.find(fd);
    if (it == m_byFd.end() || it->second.backingOff) return;
    Registration& reg = it->second;
    reg.enabled |= FD_ACCEPT;
    reg.muted &= ~std::uint32_t(EPOLLIN);
    reg.backingOff = true;
    setAnnounced(reg, false);
    rearm(reg);
    m_backOffs.push_back({reg.stamp, std::chrono::steady_clock::now() + kAcceptBackOff});
    wake();
}

int AsyncSelectPoller::backOffTimeout() const {
    if (m_backOffs.empty()) return -1;
    auto first = m_backOffs.front().until;
    for (const BackOff& b : m_backOffs)
        first = std::min(first, b.until);
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(first - std::chrono::steady_clock::now());
    return int(std::max<long>(0, long(left.count())));
}

void AsyncSelectPoller::endBackOffs() {
    const auto now = std::chrono::steady_clock::now();
    auto keep = m_backOffs.begin();
    for (const BackOff& b : m_backOffs) {
        if (b.until > now) {
            *keep++ = b;
            continue;
        }
        auto byStamp = m_fdByStamp.find(b.stamp);
        if (byStamp == m_fdByStamp.end()) continue;
        Registration& reg = m_byFd.at(byStamp->second);
        reg.backingOff = false;
        rearm(reg);
    }
    m_backOffs.erase(keep, m_backOffs.end());
}

void AsyncSelectPoller::connectStarted(int fd) {
    connectFailed(fd, 0);
}

void AsyncSelectPoller::connectFailed(int fd, int error) {
    std::lock_guard lock(m_mutex);
    auto it = m_byFd.find(fd);
    if (it == m_byFd.end()) return;
    Registration& reg = it->second;
    reg.connectPending = true;
    reg.pendingConnectError = error;
    reg.connected = false;
    reg.closeDone = false;
    reg.eofSeen = false;
    reg.parked = false;
    reg.muted = 0;
    rearm(reg);
}

void AsyncSelectPoller::listening(int fd) {
    std::lock_guard lock(m_mutex);
    auto it = m_byFd.find(fd);
    if (it == m_byFd.end()) return;
    it->second.listening = true;
    it->second.connectPending = false;
    it->second.parked = false;
    it->second.muted = 0;
    rearm(it->second);
}

void AsyncSelectPoller::inherit(int listenFd, int newFd, std::uint64_t newStamp) {
    std::lock_guard lock(m_mutex);
    auto listener = m_byFd.find(listenFd);
    if (listener == m_byFd.end()) return;
    Registration reg;
    reg.fd = newFd;
    reg.stamp = newStamp;
    reg.epoll = listener->second.epoll;
    reg.window = listener->second.window;
    reg.msg = listener->second.msg;
    reg.events = listener->second.events;
    reg.enabled = kAllEvents;
    reg.stream = true;
    reg.connected = true;
    // On the window's own thread the socket joins the set when the handler that
    // accepted it is over (armPending), unless that handler closed it first. On any
    // other thread the window may be asleep: it joins at once.
    auto group = m_groupThreads.find(reg.epoll);
    if (group != m_groupThreads.end() && group->second == std::this_thread::get_id()) {
        reg.armPending = true;
        m_armPending.push_back(newStamp);
    }
    emplace(reg);
}

void AsyncSelectPoller::noteReset(int fd, int error) {
    std::lock_guard lock(m_mutex);
    auto it = m_byFd.find(fd);
    if (it == m_byFd.end()) return;
    Registration& reg = it->second;
    if (reg.resetError == 0) reg.resetError = error;
    if (reg.stream && reg.connected && !reg.closeDone) closeOnce(reg, reg.resetError);
    rearm(reg);
}

int AsyncSelectPoller::resetError(int fd) const {
    std::lock_guard lock(m_mutex);
    auto it = m_byFd.find(fd);
    return it == m_byFd.end() ? 0 : it->second.resetError;
}

} // namespace win
