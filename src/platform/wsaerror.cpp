#include "platform/winsockstate.h"

#include <cerrno>

namespace win {

namespace {
// Each thread has its own last error, as on Windows: tool threads report their own
// failures without seeing each other's.
thread_local int t_lastError = 0;
} // namespace

int WSAGetLastError() { return t_lastError; }

void WSASetLastError(int error) { t_lastError = error; }

int failWith(int error) {
    t_lastError = error;
    return SOCKET_ERROR;
}

int WSAErrorFromErrno(int error) {
    switch (error) {
    case 0: return 0;
    case EINTR: return WSAEINTR;
    // A descriptor that is not open is, to Winsock, not a socket.
    case EBADF: return WSAENOTSOCK;
    case EACCES:
    case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
    case EAGAIN: return WSAEWOULDBLOCK;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK: return WSAEWOULDBLOCK;
#endif
    // Winsock answers a non-blocking connect that has started with WSAEWOULDBLOCK;
    // its WSAEINPROGRESS means a blocking call already running in the thread.
    case EINPROGRESS: return WSAEWOULDBLOCK;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:
    case ENOSR: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    // Writing after our own shutdown; send() tells this apart from a peer's reset.
    case ESHUTDOWN:
    case EPIPE: return WSAESHUTDOWN;
    case ETOOMANYREFS: return WSAETOOMANYREFS;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ELOOP: return WSAELOOP;
    case ENAMETOOLONG: return WSAENAMETOOLONG;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    case ENOTEMPTY: return WSAENOTEMPTY;
    case EUSERS: return WSAEUSERS;
    case EDQUOT: return WSAEDQUOT;
    case ESTALE: return WSAESTALE;
    case EREMOTE: return WSAEREMOTE;
    // Linux has no process-limit error of its own (WSAEPROCLIM); anything else
    // without a Winsock counterpart is an invalid request to the tools.
    default: return WSAEINVAL;
    }
}

int WSAErrorFromHostError(int hostError) {
    switch (hostError) {
    case 0: return 0;
    case HOST_NOT_FOUND: return WSAHOST_NOT_FOUND;
    case TRY_AGAIN: return WSATRY_AGAIN;
    case NO_DATA: return WSANO_DATA;
    // NO_RECOVERY and the resolver's internal failures alike.
    default: return WSANO_RECOVERY;
    }
}

} // namespace win
