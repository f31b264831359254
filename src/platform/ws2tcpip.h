#pragma once
// The IPv6 calls Windows added beside Windows Sockets 1.1, with their names and
// contracts: the Winsock 1.1 calls stay IPv4-only, as the tools use them; a tool
// that speaks IPv6 finds and writes its addresses through these. The structures
// are the system's own (sockaddr_in6, addrinfo), which have the layout the tools
// read.
#include "platform/message.h"
#include "platform/winsock.h"

#include <cstddef>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace win {

using ::addrinfo;
using ::in6_addr;
using ::sockaddr_in6;
using ::sockaddr_storage;

constexpr int WSA_NOT_ENOUGH_MEMORY = 8;
constexpr int WSATYPE_NOT_FOUND = 10109;

// The longest address texts, their terminating zero included.
constexpr std::size_t INET_ADDRSTRLEN_WS = 22;  // "255.255.255.255:65535"
constexpr std::size_t INET6_ADDRSTRLEN_WS = 65; // "[ffff:...:255.255.255.255%4294967295]:65535"

// 0, or the Winsock error (WSAHOST_NOT_FOUND, WSATRY_AGAIN, WSANO_RECOVERY,
// WSAEAFNOSUPPORT, WSATYPE_NOT_FOUND, WSAESOCKTNOSUPPORT, WSAEINVAL,
// WSA_NOT_ENOUGH_MEMORY), which is also the thread's last error. The list is
// freed with freeaddrinfo.
int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result);
void freeaddrinfo(addrinfo* list);

// 1 when `text` is an address of `family` (written to `out`), 0 when it is not,
// SOCKET_ERROR with WSAEAFNOSUPPORT for a family other than AF_INET and AF_INET6.
int inet_pton(int family, const char* text, void* out);
// `out`, or nullptr with WSAEAFNOSUPPORT (family) or WSAEINVAL (buffer too small).
const char* inet_ntop(int family, const void* address, char* out, std::size_t size);

// The address as Windows writes it: "a.b.c.d:port" and "[v6%scope]:port", the
// port and the scope left out when 0. On return *length holds the text's length
// with its terminating zero; when the buffer is shorter than that, SOCKET_ERROR
// with WSAEFAULT and nothing written. WSAEINVAL for a family or length that is
// not an address's.
int WSAAddressToStringA(const sockaddr* address, DWORD addressLength, void* protocolInfo,
                        char* out, DWORD* length);

// Windows offers no look-up that answers a window for IPv6; these two are the
// program's own, the IPv6 siblings of WSAAsyncGetHostByName/Addr: the same task
// handle, buffer, completion message and cancelling (WSACancelAsyncRequest,
// WSADetachWindow). The entry has the family AF_INET6 and 16-byte addresses; the
// reverse look-up asks for the name under ip6.arpa (or finds it in the hosts file).
HANDLE WSAAsyncGetHostByName6(HWND window, UINT msg, const char* name, char* buf, int buflen);
HANDLE WSAAsyncGetHostByAddr6(HWND window, UINT msg, const in6_addr& address, char* buf,
                              int buflen);

// The Winsock error for a getaddrinfo/getnameinfo result (EAI_*).
int WSAErrorFromAddrInfo(int eaiError);

} // namespace win
