// Creating, binding, connecting, closing and configuring sockets.
#include "platform/asyncselectpoller.h"
#include "platform/blockingcall.h"
#include "platform/boundname.h"
#include "platform/descriptorreserve.h"
#include "platform/winsockstate.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace win {

namespace {

constexpr int kDatagramQueueBytes = 2 << 20;

int setReuseAddr(int fd) {
    const int on = 1;
    return ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

// Windows refuses a second bind of a UDP port unless the second socket asked for
// SO_REUSEADDR; Linux wants the option on both. Every UDP socket has it set, so a
// caller who did not ask first tries the address with a socket that has not, of
// the same family and, for IPv6, taking IPv4 or not as the caller's socket does.
bool udpAddressTaken(const sockaddr* name, bool v6only) {
    const int family = name->sa_family;
    const int probe = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    const int only = v6only ? 1 : 0;
    if (family == AF_INET6) ::setsockopt(probe, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
    const socklen_t length = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    const bool taken = ::bind(probe, name, length) != 0 && errno == EADDRINUSE;
    ::close(probe);
    return taken;
}

// What a bind of `name` on `fd` would take, when the name is of the socket's own
// family (any other the system refuses by itself).
std::optional<BoundName> wantedName(int fd, const sockaddr* name, int namelen, bool& v6only) {
    v6only = false;
    // Only an IPv6 name needs the socket asked anything (IPv4 binds are many: a port
    // scan makes one a port). An IPv4 socket has no IPv6 option, so a name of the
    // other family is no name here.
    if (name->sa_family == AF_INET6) {
        int only = 0;
        socklen_t size = sizeof only;
        if (::getsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, &size) != 0) return std::nullopt;
        v6only = only != 0;
    }
    return BoundName::of(name, socklen_t(namelen), v6only);
}

// Connect outcomes that Winsock reports through FD_CONNECT on a non-blocking
// socket rather than from connect() itself.
bool isConnectOutcome(int error) {
    return error == ECONNREFUSED || error == ETIMEDOUT || error == ENETUNREACH ||
           error == EHOSTUNREACH;
}

} // namespace

std::optional<SocketRecord> socketRecord(SOCKET s) {
    std::optional<SocketRecord> record;
    if (s <= SOCKET(INT_MAX)) record = SocketTable::instance().find(int(s));
    if (!record) WSASetLastError(WSAENOTSOCK);
    return record;
}

SOCKET socket(int af, int type, int protocol) {
    if (!socketsReady()) return INVALID_SOCKET;
    const int fd = ::socket(af, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        WSASetLastError(WSAErrorFromErrno(errno));
        return INVALID_SOCKET;
    }
    // Windows' IPv6 sockets take IPv6 alone until asked for IPv4 too.
    if (af == AF_INET6) {
        const int on = 1;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    }
    if (type == SOCK_DGRAM) {
        setReuseAddr(fd);
        // A window reads its datagrams on its own thread, between its other work;
        // on a busy machine that thread may not run for some milliseconds, and a
        // burst arriving meanwhile must wait in the socket rather than be dropped.
        // The system's ceiling (net.core.rmem_max) still applies.
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kDatagramQueueBytes, sizeof kDatagramQueueBytes);
    }
    SocketTable::instance().add(fd, type);
    return SOCKET(fd);
}

int bind(SOCKET s, const sockaddr* name, int namelen) {
    if (!socketsReady()) return SOCKET_ERROR;
    const auto record = socketRecord(s);
    if (!record) return SOCKET_ERROR;
    if (name == nullptr || namelen < int(sizeof(sockaddr))) return failWith(WSAEFAULT);
    const int fd = int(s);
    bool v6only = false;
    const auto wanted = wantedName(fd, name, namelen, v6only);
    const bool checked = wanted && wanted->port != 0 && !record->callerReuseAddr;
    if (record->type == SOCK_STREAM) {
        if (checked && SocketTable::instance().streamPortTaken(fd, *wanted))
            return failWith(WSAEADDRINUSE);
        // Windows binds a port whose only users are connections in TIME_WAIT; Linux
        // does so with SO_REUSEADDR, which still refuses a port with a listener.
        setReuseAddr(fd);
    } else if (record->type == SOCK_DGRAM && checked && udpAddressTaken(name, v6only)) {
        return failWith(WSAEADDRINUSE);
    }
    if (::bind(fd, name, socklen_t(namelen)) != 0) return failWith(WSAErrorFromErrno(errno));
    // A named port is where the socket now is; only the system's choice of one
    // has to be asked for.
    if (record->type == SOCK_STREAM && wanted && wanted->port != 0) {
        SocketTable::instance().setBound(fd, *wanted);
    } else if (record->type == SOCK_STREAM && wanted) {
        sockaddr_storage bound{};
        socklen_t len = sizeof bound;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len) == 0)
            if (const auto taken = BoundName::of(reinterpret_cast<sockaddr*>(&bound), len, v6only))
                SocketTable::instance().setBound(fd, *taken);
    }
    return 0;
}

int listen(SOCKET s, int backlog) {
    if (!socketsReady()) return SOCKET_ERROR;
    const auto record = socketRecord(s);
    if (!record) return SOCKET_ERROR;
    const int fd = int(s);
    // Winsock will not listen on a socket that was never bound; Linux would pick a
    // port by itself.
    sockaddr_storage own{};
    socklen_t len = sizeof own;
    if (record->type == SOCK_STREAM &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&own), &len) == 0)
        if (const auto name = BoundName::of(reinterpret_cast<sockaddr*>(&own), len, false);
            name && name->port == 0)
            return failWith(WSAEINVAL);
    if (::listen(fd, backlog) != 0) return failWith(WSAErrorFromErrno(errno));
    AsyncSelectPoller::instance().listening(fd);
    return 0;
}

SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen) {
    if (!socketsReady()) return INVALID_SOCKET;
    const auto record = socketRecord(s);
    if (!record) return INVALID_SOCKET;
    if (addr != nullptr && (addrlen == nullptr || *addrlen < int(sizeof(sockaddr)))) {
        WSASetLastError(WSAEFAULT);
        return INVALID_SOCKET;
    }
    const int fd = int(s);
    // The new socket has the listener's properties: its blocking mode here, its
    // notification registration below.
    int flags = SOCK_CLOEXEC;
    if (record->nonBlocking) flags |= SOCK_NONBLOCK;
    socklen_t len = addrlen != nullptr ? socklen_t(*addrlen) : 0;
    const int newFd = ::accept4(fd, addr, addr != nullptr ? &len : nullptr, flags);
    const int error = errno;
    auto& poller = AsyncSelectPoller::instance();
    if (newFd < 0) {
        if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
            // The connection is still queued and would be announced again at once.
            // Out of descriptors, it is taken with the reserve and closed, and the
            // caller learns who it was (addr, when given); otherwise the listener
            // rests a moment before it is announced again.
            sockaddr_storage peer{};
            socklen_t peerLen = sizeof peer;
            // Only a non-blocking listener: a blocking one would wait in the
            // reserve's accept for a connection that need not be there.
            if ((error == EMFILE || error == ENFILE) && record->nonBlocking &&
                DescriptorReserve::instance().shed(fd, reinterpret_cast<sockaddr*>(&peer),
                                                   &peerLen)) {
                poller.reenable(fd, FD_ACCEPT);
                if (addr != nullptr) {
                    std::memcpy(addr, &peer, std::min<std::size_t>(len, peerLen));
                    *addrlen = int(std::min<socklen_t>(len, peerLen));
                }
            } else {
                poller.backOff(fd);
            }
        } else {
            poller.reenable(fd, FD_ACCEPT);
        }
        WSASetLastError(WSAErrorFromErrno(error));
        return INVALID_SOCKET;
    }
    const std::uint64_t stamp =
        SocketTable::instance().add(newFd, SOCK_STREAM, record->nonBlocking);
    poller.inherit(fd, newFd, stamp);
    // Re-enabled only after this connection left the queue, so a further FD_ACCEPT
    // means a further connection.
    poller.reenable(fd, FD_ACCEPT);
    if (addrlen != nullptr && addr != nullptr) *addrlen = int(len);
    return SOCKET(newFd);
}

int connect(SOCKET s, const sockaddr* name, int namelen) {
    if (!socketsReady()) return SOCKET_ERROR;
    const auto record = socketRecord(s);
    if (!record) return SOCKET_ERROR;
    if (name == nullptr || namelen < int(sizeof(sockaddr))) return failWith(WSAEFAULT);
    const int fd = int(s);
    auto& poller = AsyncSelectPoller::instance();
    const bool registered = poller.isRegistered(fd);
    const int result = cancellableConnect(fd, name, socklen_t(namelen));
    const int error = result == 0 ? 0 : errno;
    if (result == 0 || error == EINPROGRESS) SocketTable::instance().setConnectStarted(fd);
    if (registered && record->type == SOCK_STREAM) {
        // A registered socket is non-blocking: Winsock answers WSAEWOULDBLOCK and
        // tells the outcome, success or failure, through FD_CONNECT.
        if (result == 0 || error == EINPROGRESS) {
            poller.connectStarted(fd);
            return failWith(WSAEWOULDBLOCK);
        }
        if (isConnectOutcome(error)) {
            SocketTable::instance().setConnectStarted(fd);
            poller.connectFailed(fd, error);
            return failWith(WSAEWOULDBLOCK);
        }
    }
    if (result == 0) return 0;
    return failWith(WSAErrorFromErrno(error));
}

int closesocket(SOCKET s) {
    if (!socketsReady()) return SOCKET_ERROR;
    if (!socketRecord(s)) return SOCKET_ERROR;
    const int fd = int(s);
    // The order matters: no notification is posted once the registration is gone;
    // a message already queued stops being current once the record is gone; only
    // then may the descriptor number be handed to a new socket.
    AsyncSelectPoller::instance().remove(fd, true);
    SocketTable::instance().remove(fd);
    if (::close(fd) != 0 && errno != EINTR) return failWith(WSAErrorFromErrno(errno));
    return 0;
}

int shutdown(SOCKET s, int how) {
    if (!socketsReady()) return SOCKET_ERROR;
    if (!socketRecord(s)) return SOCKET_ERROR;
    // SD_RECEIVE, SD_SEND and SD_BOTH have the values of SHUT_RD, SHUT_WR, SHUT_RDWR.
    if (::shutdown(int(s), how) != 0) return failWith(WSAErrorFromErrno(errno));
    if (how == SHUT_WR || how == SHUT_RDWR) SocketTable::instance().setSendShutdown(int(s));
    return 0;
}

int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
    if (!socketsReady()) return SOCKET_ERROR;
    const auto record = socketRecord(s);
    if (!record) return SOCKET_ERROR;
    if (optval == nullptr || optlen < 0) return failWith(WSAEFAULT);
    if (level == SOL_SOCKET && optname == SO_REUSEADDR) {
        // Kept for bind() and getsockopt(); the kernel option is ours to manage.
        if (optlen < 1) return failWith(WSAEFAULT);
        int value = 0;
        if (optlen >= int(sizeof(int)))
            std::memcpy(&value, optval, sizeof value);
        else
            value = optval[0];
        SocketTable::instance().setCallerReuseAddr(int(s), value != 0);
        return 0;
    }
    if (::setsockopt(int(s), level, optname, optval, socklen_t(optlen)) != 0)
        return failWith(WSAErrorFromErrno(errno));
    return 0;
}

int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen) {
    if (!socketsReady()) return SOCKET_ERROR;
    const auto record = socketRecord(s);
    if (!record) return SOCKET_ERROR;
    if (optval == nullptr || optlen == nullptr || *optlen < 0) return failWith(WSAEFAULT);
    if (level == SOL_SOCKET && optname == SO_REUSEADDR) {
        if (*optlen < int(sizeof(int))) return failWith(WSAEFAULT);
        const int value = record->callerReuseAddr ? 1 : 0;
        std::memcpy(optval, &value, sizeof value);
        *optlen = sizeof value;
        return 0;
    }
    socklen_t len = socklen_t(*optlen);
    if (::getsockopt(int(s), level, optname, optval, &len) != 0)
        return failWith(WSAErrorFromErrno(errno));
    // Winsock's SO_ERROR is a Winsock code.
    if (level == SOL_SOCKET && optname == SO_ERROR && len >= sizeof(int)) {
        int value = 0;
        std::memcpy(&value, optval, sizeof value);
        value = WSAErrorFromErrno(value);
        std::memcpy(optval, &value, sizeof value);
    }
    *optlen = int(len);
    return 0;
}

int getsockname(SOCKET s, sockaddr* name, int* namelen) {
    if (!socketsReady()) return SOCKET_ERROR;
    if (!socketRecord(s)) return SOCKET_ERROR;
    if (name == nullptr || namelen == nullptr || *namelen < int(sizeof(sockaddr)))
        return failWith(WSAEFAULT);
    socklen_t len = socklen_t(*namelen);
    if (::getsockname(int(s), name, &len) != 0) return failWith(WSAErrorFromErrno(errno));
    // Winsock will not cut an IPv6 name to fit a buffer made for IPv4.
    if (len > socklen_t(*namelen)) return failWith(WSAEFAULT);
    // Winsock has no name for a socket that was never bound; the port stands at
    // the same place in both families' names.
    if ((name->sa_family == AF_INET || name->sa_family == AF_INET6) &&
        reinterpret_cast<const sockaddr_in*>(name)->sin_port == 0)
        return failWith(WSAEINVAL);
    *namelen = int(len);
    return 0;
}

int getpeername(SOCKET s, sockaddr* name, int* namelen) {
    if (!socketsReady()) return SOCKET_ERROR;
    if (!socketRecord(s)) return SOCKET_ERROR;
    if (name == nullptr || namelen == nullptr || *namelen < int(sizeof(sockaddr)))
        return failWith(WSAEFAULT);
    socklen_t len = socklen_t(*namelen);
    if (::getpeername(int(s), name, &len) != 0) return failWith(WSAErrorFromErrno(errno));
    *namelen = int(len);
    return 0;
}

int ioctlsocket(SOCKET s, long cmd, u_long* argp) {
    if (!socketsReady()) return SOCKET_ERROR;
    if (!socketRecord(s)) return SOCKET_ERROR;
    if (argp == nullptr) return failWith(WSAEFAULT);
    const int fd = int(s);
    if (cmd == long(FIONBIO)) {
        // Winsock refuses blocking mode while notifications are registered.
        if (*argp == 0 && AsyncSelectPoller::instance().isRegistered(fd))
            return failWith(WSAEINVAL);
        const int flags = ::fcntl(fd, F_GETFL);
        const int wanted = *argp != 0 ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
        if (flags < 0 || ::fcntl(fd, F_SETFL, wanted) != 0)
            return failWith(WSAErrorFromErrno(errno));
        SocketTable::instance().setNonBlocking(fd, *argp != 0);
        return 0;
    }
    if (cmd == long(FIONREAD)) {
        int avail = 0;
        if (::ioctl(fd, FIONREAD, &avail) != 0) return failWith(WSAErrorFromErrno(errno));
        *argp = u_long(avail);
        return 0;
    }
    return failWith(WSAEINVAL);
}

} // namespace win
