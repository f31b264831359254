#pragma once
// Windows Sockets 1.1 as the tools call it, over POSIX sockets. The names, numbers
// and rules are Winsock's (error codes, non-blocking rules, notification order);
// the address and database structures are the system's own, which have the layout
// the tools read (sockaddr_in, in_addr, hostent, protoent, servent).
#include "platform/message.h"

#include <bit>
#include <cstdint>
#include <vector>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

// glibc may define the byte-order calls as macros, which would rewrite the
// win:: functions below; the real functions stay available.
#undef htons
#undef ntohs
#undef htonl
#undef ntohl

namespace win {

using u_short = std::uint16_t;
using u_long = std::uint32_t; // 32 bits, as on Windows
using SOCKET = std::uintptr_t; // holds the descriptor: the "socket number" the tools log
using HANDLE = void*;

using ::hostent;
using ::in_addr;
using ::protoent;
using ::servent;
using ::sockaddr;
using ::sockaddr_in;

constexpr SOCKET INVALID_SOCKET = ~SOCKET(0);
constexpr int SOCKET_ERROR = -1;

constexpr long FD_READ = 0x01;
constexpr long FD_WRITE = 0x02;
constexpr long FD_OOB = 0x04;
constexpr long FD_ACCEPT = 0x08;
constexpr long FD_CONNECT = 0x10;
constexpr long FD_CLOSE = 0x20;

constexpr int MAXGETHOSTSTRUCT = 1024;
constexpr int WSADESCRIPTION_LEN = 256;
constexpr int WSASYS_STATUS_LEN = 128;

// The Windows Sockets 1.1 error codes.
constexpr int WSABASEERR = 10000;
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETOOMANYREFS = 10059;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAELOOP = 10062;
constexpr int WSAENAMETOOLONG = 10063;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAENOTEMPTY = 10066;
constexpr int WSAEPROCLIM = 10067;
constexpr int WSAEUSERS = 10068;
constexpr int WSAEDQUOT = 10069;
constexpr int WSAESTALE = 10070;
constexpr int WSAEREMOTE = 10071;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

struct WSADATA {
    WORD wVersion = 0;
    WORD wHighVersion = 0;
    char szDescription[WSADESCRIPTION_LEN + 1] = {};
    char szSystemStatus[WSASYS_STATUS_LEN + 1] = {};
    unsigned short iMaxSockets = 0;
    unsigned short iMaxUdpDg = 0;
    char* lpVendorInfo = nullptr;
};

// lParam of a WSAAsyncSelect notification: the event in the low half, the error in
// the high half.
constexpr LPARAM WSAMAKESELECTREPLY(long event, int error) {
    return LPARAM((event & 0xffff) | (long(error & 0xffff) << 16));
}
constexpr int WSAGETSELECTEVENT(LPARAM lParam) { return int(lParam & 0xffff); }
constexpr int WSAGETSELECTERROR(LPARAM lParam) { return int((lParam >> 16) & 0xffff); }
// lParam of a lookup completion: the entry's length in the low half, the error in
// the high half.
constexpr LPARAM WSAMAKEASYNCREPLY(int buflen, int error) {
    return LPARAM((buflen & 0xffff) | (long(error & 0xffff) << 16));
}
constexpr int WSAGETASYNCBUFLEN(LPARAM lParam) { return int(lParam & 0xffff); }
constexpr int WSAGETASYNCERROR(LPARAM lParam) { return int((lParam >> 16) & 0xffff); }

constexpr u_short htons(u_short v) {
    if constexpr (std::endian::native == std::endian::little) return u_short((v >> 8) | (v << 8));
    return v;
}
constexpr u_short ntohs(u_short v) { return htons(v); }
constexpr u_long htonl(u_long v) {
    if constexpr (std::endian::native == std::endian::little)
        return (v >> 24) | ((v >> 8) & 0xff00) | ((v << 8) & 0xff0000) | (v << 24);
    return v;
}
constexpr u_long ntohl(u_long v) { return htonl(v); }

// --- Start and errors -------------------------------------------------------------
// Version 1.1 (0x0101) or above is accepted and answered with 1.1; below gives
// WSAVERNOTSUPPORTED. Every other call fails with WSANOTINITIALISED while no start
// is outstanding (each WSAStartup is matched by one WSACleanup).
int WSAStartup(WORD versionRequested, WSADATA* data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);
// The Winsock code for a POSIX errno value (0 stays 0).
int WSAErrorFromErrno(int error);
// The Winsock code for a resolver h_errno value (HOST_NOT_FOUND -> WSAHOST_NOT_FOUND ...).
int WSAErrorFromHostError(int hostError);

// --- Sockets ----------------------------------------------------------------------
SOCKET socket(int af, int type, int protocol);
int bind(SOCKET s, const sockaddr* name, int namelen);
int listen(SOCKET s, int backlog);
// When descriptors or buffers run out (WSAEMFILE, WSAENOBUFS), the waiting
// connection is not left to be announced again at once: out of descriptors it is
// taken with a descriptor held in reserve and closed, and `addr` then holds that
// peer's address (left as it was otherwise); else FD_ACCEPT rests for 100 ms.
SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen);
int connect(SOCKET s, const sockaddr* name, int namelen);
int send(SOCKET s, const char* buf, int len, int flags);
int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen);
int recv(SOCKET s, char* buf, int len, int flags);
int recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen);
int closesocket(SOCKET s);
int shutdown(SOCKET s, int how);
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);
int getsockname(SOCKET s, sockaddr* name, int* namelen);
int getpeername(SOCKET s, sockaddr* name, int* namelen);
int ioctlsocket(SOCKET s, long cmd, u_long* argp);

// Notifications as window messages: Message{msg, s, WSAMAKESELECTREPLY(event, error),
// stamp of the socket's life} posted to `window`. events == 0 cancels.
int WSAAsyncSelect(SOCKET s, HWND window, UINT msg, long events);
// Our own addition, not part of Winsock: the sockets of `window` whose FD_ACCEPT
// (listening sockets) or FD_READ (datagram sockets), as `event` says, has been posted
// and not yet answered by accept() or recv()/recvfrom(): those with something
// waiting, as far as the window has been told, in no particular order. A window that
// serves many sockets calls only these rather than trying every one in turn.
std::vector<SOCKET> WSAAnnouncedSockets(HWND window, long event);
// Our own addition, not part of Winsock: forgets every notification registration
// and every pending lookup completion aimed at `window`. Once it returns nothing
// more is posted to the window, so the window may then be destroyed.
void WSADetachWindow(HWND window);

// --- Host, protocol and service database ------------------------------------------
// Results live in storage private to the calling thread, valid until its next call
// of the same function.
int gethostname(char* name, int namelen);
hostent* gethostbyname(const char* name);
hostent* gethostbyaddr(const char* addr, int len, int type);
protoent* getprotobynumber(int proto);
protoent* getprotobyname(const char* name);
servent* getservbyport(int port, const char* proto); // port in network order
servent* getservbyname(const char* name, const char* proto);
u_long inet_addr(const char* cp); // INADDR_NONE when not an address
char* inet_ntoa(in_addr in);

// Lookups on a worker: the entry is written into `buf` (at most `buflen` bytes, its
// pointers pointing inside `buf`), then Message{msg, handle, WSAMAKEASYNCREPLY(length,
// error)} is posted. `buf` must stay valid until that message or a successful cancel.
HANDLE WSAAsyncGetHostByName(HWND window, UINT msg, const char* name, char* buf, int buflen);
HANDLE WSAAsyncGetHostByAddr(HWND window, UINT msg, const char* addr, int len, int type, char* buf,
                             int buflen);
int WSACancelAsyncRequest(HANDLE asyncTask);

} // namespace win
