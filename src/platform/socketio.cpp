// Sending and receiving, with the re-enabling rules of WSAAsyncSelect.
#include "platform/asyncselectpoller.h"
#include "platform/blockingcall.h"
#include "platform/winsockstate.h"

#include <cerrno>

namespace win {

namespace {

// A send that fails: Linux says EPIPE both after our own shutdown and after the
// peer reset the connection; Winsock tells the two apart.
int sendError(const SocketRecord& record, int fd, int error) {
    auto& poller = AsyncSelectPoller::instance();
    if (error == EAGAIN || error == EWOULDBLOCK) poller.reenable(fd, FD_WRITE);
    if (error == EPIPE && !record.sendShutdown) {
        const int reset = poller.resetError(fd);
        return reset != 0 ? reset : WSAECONNRESET;
    }
    if (error == ECONNRESET || error == ETIMEDOUT) poller.noteReset(fd, WSAErrorFromErrno(error));
    return WSAErrorFromErrno(error);
}

int receiveError(const SocketRecord& record, int fd, int error) {
    if (record.type == SOCK_STREAM && (error == ECONNRESET || error == ETIMEDOUT))
        AsyncSelectPoller::instance().noteReset(fd, WSAErrorFromErrno(error));
    // A port-unreachable answer to an earlier datagram is a reset to Winsock.
    if (record.type == SOCK_DGRAM && error == ECONNREFUSED) return WSAECONNRESET;
    return WSAErrorFromErrno(error);
}

int receive(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen) {
    if (!socketsReady()) return SOCKET_ERROR;
    const auto record = socketRecord(s);
    if (!record) return SOCKET_ERROR;
    if (len < 0 || (buf == nullptr && len > 0)) return failWith(WSAEFAULT);
    if (from != nullptr && (fromlen == nullptr || *fromlen < int(sizeof(sockaddr))))
        return failWith(WSAEFAULT);
    const int fd = int(s);
    // With MSG_TRUNC a datagram socket returns the datagram's real length, which
    // shows a datagram longer than the buffer: it is still consumed, as on Windows.
    const int sysFlags = record->type == SOCK_DGRAM ? flags | MSG_TRUNC : flags;
    socklen_t addrLen = fromlen != nullptr ? socklen_t(*fromlen) : 0;
    const ssize_t n = cancellableRecvfrom(fd, buf, std::size_t(len), sysFlags, from,
                                          from != nullptr ? &addrLen : nullptr);
    const int error = errno;
    int result = int(n);
    int failure = 0;
    if (n < 0) {
        failure = receiveError(*record, fd, error);
    } else if (record->type == SOCK_DGRAM && n > len) {
        failure = WSAEMSGSIZE;
    } else if (record->type == SOCK_STREAM && n == 0) {
        // The poller may have taken the kernel's reset error already.
        failure = AsyncSelectPoller::instance().resetError(fd);
    }
    if (from != nullptr && n >= 0) *fromlen = int(addrLen);
    // Every recv re-enables FD_READ, whatever it returned; after the data it took,
    // so that a further FD_READ means data still waiting. A stream recv that did not
    // fill the buffer took all there was (the kernel copies up to the buffer's end
    // while data is queued), so only data that arrives later can be waiting, and
    // its arrival is seen by the poller; anything else leaves the socket to be
    // looked at.
    const bool tookAll = record->type == SOCK_STREAM && flags == 0 && n >= 0 && n < len;
    AsyncSelectPoller::instance().reenable(fd, FD_READ, !tookAll);
    if (failure != 0) return failWith(failure);
    return result;
}

int transmit(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen) {
    if (!socketsReady()) return SOCKET_ERROR;
    const auto record = socketRecord(s);
    if (!record) return SOCKET_ERROR;
    if (len < 0 || (buf == nullptr && len > 0)) return failWith(WSAEFAULT);
    if (to != nullptr && tolen < int(sizeof(sockaddr))) return failWith(WSAEFAULT);
    // MSG_NOSIGNAL: a peer that has gone is an error value, never SIGPIPE.
    const ssize_t n = cancellableSendto(int(s), buf, std::size_t(len), flags | MSG_NOSIGNAL, to,
                                        to != nullptr ? socklen_t(tolen) : 0);
    if (n < 0) return failWith(sendError(*record, int(s), errno));
    return int(n);
}

} // namespace

int send(SOCKET s, const char* buf, int len, int flags) {
    return transmit(s, buf, len, flags, nullptr, 0);
}

int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen) {
    return transmit(s, buf, len, flags, to, tolen);
}

int recv(SOCKET s, char* buf, int len, int flags) {
    return receive(s, buf, len, flags, nullptr, nullptr);
}

int recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen) {
    return receive(s, buf, len, flags, from, fromlen);
}

} // namespace win
