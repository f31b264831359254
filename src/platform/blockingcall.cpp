#include "platform/blockingcall.h"

#include "platform/winsock.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/time.h>
#include <unistd.h>

namespace win {

BlockingThread::~BlockingThread() {
    if (m_wakeFd >= 0) ::close(m_wakeFd);
}

bool BlockingThread::isBlocking() const {
    std::lock_guard lock(m_mutex);
    return m_blocking;
}

std::shared_ptr<BlockingThread> WSACurrentBlockingThread() {
    thread_local std::shared_ptr<BlockingThread> current = std::make_shared<BlockingThread>();
    return current;
}

bool BlockingThread::cancel() {
    std::lock_guard lock(m_mutex);
    m_cancelled = true;
    if (m_wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(m_wakeFd, &one, sizeof one);
    }
    return m_blocking;
}

void BlockingThread::resume() {
    std::lock_guard lock(m_mutex);
    m_cancelled = false;
    if (m_wakeFd >= 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] auto n = ::read(m_wakeFd, &count, sizeof count);
    }
}

int WSACancelBlockingCall(BlockingThread& thread) {
    if (thread.cancel()) return 0;
    WSASetLastError(WSAEINVAL);
    return SOCKET_ERROR;
}

void WSAResumeBlockingCalls(BlockingThread& thread) {
    thread.resume();
}

// One wait of the calling thread for its socket, cancellable.
class BlockingWait {
public:
    enum class Result { Ready, Cancelled, TimedOut };

    // `timeout` zero: no limit (the socket option's meaning).
    static Result until(int fd, short events, timeval timeout) {
        const auto thread = WSACurrentBlockingThread();
        {
            std::lock_guard lock(thread->m_mutex);
            if (thread->m_cancelled) return Result::Cancelled;
            if (thread->m_wakeFd < 0) thread->m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
            thread->m_blocking = true;
        }
        const bool limited = timeout.tv_sec != 0 || timeout.tv_usec != 0;
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::seconds(timeout.tv_sec) +
                              std::chrono::microseconds(timeout.tv_usec);
        // Without a wake-up descriptor (none left) the call blocks as it always did.
        pollfd fds[2] = {{fd, events, 0}, {thread->m_wakeFd, POLLIN, 0}};
        const nfds_t count = fds[1].fd >= 0 ? 2 : 1;
        Result result = Result::Ready;
        for (;;) {
            int wait = -1;
            if (limited) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                wait = static_cast<int>(std::max<long long>(left.count(), 0));
            }
            const int n = ::poll(fds, count, wait);
            if (n < 0 && errno == EINTR) continue;
            if (n == 0) result = Result::TimedOut;
            if (count == 2 && fds[1].revents != 0) result = Result::Cancelled;
            break;
        }
        std::lock_guard lock(thread->m_mutex);
        thread->m_blocking = false;
        if (thread->m_cancelled) result = Result::Cancelled;
        return result;
    }
};

namespace {

bool isBlockingSocket(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_NONBLOCK) == 0;
}

// The socket's own time-out for the direction (SO_RCVTIMEO, SO_SNDTIMEO); zero for
// none, as the kernel keeps it.
timeval socketTimeout(int fd, int option) {
    timeval t{};
    socklen_t len = sizeof t;
    if (::getsockopt(fd, SOL_SOCKET, option, &t, &len) != 0) return {};
    return t;
}

} // namespace

ssize_t cancellableRecvfrom(int fd, void* buf, std::size_t len, int flags, sockaddr* from,
                            socklen_t* fromlen) {
    const socklen_t askedLen = fromlen ? *fromlen : 0;
    for (;;) {
        // MSG_DONTWAIT: the kernel never blocks us; a blocking socket waits below,
        // where a cancel can reach it.
        const ssize_t n = ::recvfrom(fd, buf, len, flags | MSG_DONTWAIT, from, fromlen);
        if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK) || !isBlockingSocket(fd)) return n;
        switch (BlockingWait::until(fd, POLLIN, socketTimeout(fd, SO_RCVTIMEO))) {
        case BlockingWait::Result::Ready:
            break;
        case BlockingWait::Result::TimedOut:
            errno = EAGAIN;
            return -1;
        case BlockingWait::Result::Cancelled:
            errno = EINTR;
            return -1;
        }
        if (fromlen) *fromlen = askedLen;
    }
}

ssize_t cancellableSendto(int fd, const void* buf, std::size_t len, int flags, const sockaddr* to,
                          socklen_t tolen) {
    const auto* bytes = static_cast<const char*>(buf);
    std::size_t sent = 0;
    for (;;) {
        const ssize_t n = ::sendto(fd, bytes + sent, len - sent, flags | MSG_DONTWAIT, to, tolen);
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return sent > 0 ? ssize_t(sent) : n;
        if (n >= 0) {
            sent += static_cast<std::size_t>(n);
            if (sent == len) return ssize_t(sent);
        }
        // A short send or no room: a non-blocking socket says so now; a blocking
        // one sends it all, as the kernel would, waiting for room.
        if (!isBlockingSocket(fd)) {
            if (sent > 0) return ssize_t(sent);
            errno = EAGAIN;
            return -1;
        }
        switch (BlockingWait::until(fd, POLLOUT, socketTimeout(fd, SO_SNDTIMEO))) {
        case BlockingWait::Result::Ready:
            break;
        case BlockingWait::Result::TimedOut:
            if (sent > 0) return ssize_t(sent);
            errno = EAGAIN;
            return -1;
        case BlockingWait::Result::Cancelled:
            if (sent > 0) return ssize_t(sent);
            errno = EINTR;
            return -1;
        }
    }
}

int cancellableConnect(int fd, const sockaddr* name, socklen_t namelen) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || (flags & O_NONBLOCK) != 0) return ::connect(fd, name, namelen);
    // A blocking connect is started without blocking and waited for where a cancel
    // can reach it; the socket is blocking again afterwards, whatever the outcome.
    if (::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return ::connect(fd, name, namelen);
    int result = ::connect(fd, name, namelen);
    int error = result == 0 ? 0 : errno;
    if (result != 0 && error == EINPROGRESS) {
        switch (BlockingWait::until(fd, POLLOUT, socketTimeout(fd, SO_SNDTIMEO))) {
        case BlockingWait::Result::Ready: {
            int soError = 0;
            socklen_t len = sizeof soError;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) soError = errno;
            result = soError == 0 ? 0 : -1;
            error = soError;
            break;
        }
        // A blocking connect that gives up is a time-out to Winsock
        // (WSAETIMEDOUT), where Linux would leave it in progress.
        case BlockingWait::Result::TimedOut:
            error = ETIMEDOUT;
            break;
        case BlockingWait::Result::Cancelled:
            error = EINTR;
            break;
        }
    }
    ::fcntl(fd, F_SETFL, flags);
    errno = error;
    return result;
}

} // namespace win
