// The host, protocol and service database, blocking and asynchronous. The blocking
// calls keep their results in storage private to the calling thread (Winsock keeps
// one such area per thread), so tool threads may call them at the same time.
#include "platform/asynclookupservice.h"
#include "platform/hostlookup.h"
#include "platform/winsockstate.h"
#include "platform/ws2tcpip.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <unistd.h>

namespace win {

namespace {

constexpr std::size_t kLargestBuffer = std::size_t(1) << 20;

template <typename Entry>
struct DatabaseSlot {
    Entry entry{};
    std::vector<char> buffer = std::vector<char>(1024);
};

// Runs one of the *_r lookups into the thread's slot, growing its buffer as asked.
template <typename Entry, typename Call>
Entry* lookupInto(DatabaseSlot<Entry>& slot, Call call) {
    for (;;) {
        Entry* result = nullptr;
        const int rc = call(&slot.entry, slot.buffer.data(), slot.buffer.size(), &result);
        if (rc == ERANGE && slot.buffer.size() < kLargestBuffer) {
            slot.buffer.resize(slot.buffer.size() * 2);
            continue;
        }
        if (result == nullptr) WSASetLastError(WSANO_DATA);
        return result;
    }
}

thread_local HostLookup t_host;
thread_local DatabaseSlot<protoent> t_protocol;
thread_local DatabaseSlot<servent> t_service;
thread_local char t_dotted[16];

hostent* hostResult(int error) {
    if (error == 0) return t_host.entry();
    WSASetLastError(error);
    return nullptr;
}

} // namespace

int gethostname(char* name, int namelen) {
    if (!socketsReady()) return SOCKET_ERROR;
    if (name == nullptr || namelen <= 0) return failWith(WSAEFAULT);
    char own[HOST_NAME_MAX + 1] = {};
    if (::gethostname(own, sizeof own - 1) != 0) return failWith(WSAErrorFromErrno(errno));
    const std::size_t n = std::strlen(own) + 1;
    if (n > std::size_t(namelen)) return failWith(WSAEFAULT);
    std::memcpy(name, own, n);
    return 0;
}

hostent* gethostbyname(const char* name) {
    if (!socketsReady()) return nullptr;
    return hostResult(t_host.byName(name));
}

hostent* gethostbyaddr(const char* addr, int len, int type) {
    if (!socketsReady()) return nullptr;
    // Winsock 1.1 knows IPv4 only; IPv6 look-ups go through the calls beside it.
    if (type != AF_INET) return hostResult(WSAEAFNOSUPPORT);
    return hostResult(t_host.byAddr(addr, len, type));
}

protoent* getprotobynumber(int proto) {
    if (!socketsReady()) return nullptr;
    return lookupInto(t_protocol, [proto](protoent* e, char* b, std::size_t n, protoent** r) {
        return ::getprotobynumber_r(proto, e, b, n, r);
    });
}

protoent* getprotobyname(const char* name) {
    if (!socketsReady()) return nullptr;
    if (name == nullptr) {
        WSASetLastError(WSAEFAULT);
        return nullptr;
    }
    return lookupInto(t_protocol, [name](protoent* e, char* b, std::size_t n, protoent** r) {
        return ::getprotobyname_r(name, e, b, n, r);
    });
}

servent* getservbyport(int port, const char* proto) {
    if (!socketsReady()) return nullptr;
    return lookupInto(t_service, [&](servent* e, char* b, std::size_t n, servent** r) {
        return ::getservbyport_r(port, proto, e, b, n, r);
    });
}

servent* getservbyname(const char* name, const char* proto) {
    if (!socketsReady()) return nullptr;
    if (name == nullptr) {
        WSASetLastError(WSAEFAULT);
        return nullptr;
    }
    return lookupInto(t_service, [&](servent* e, char* b, std::size_t n, servent** r) {
        return ::getservbyname_r(name, proto, e, b, n, r);
    });
}

u_long inet_addr(const char* cp) {
    if (cp == nullptr) return INADDR_NONE;
    in_addr address{};
    if (::inet_aton(cp, &address) == 0) return INADDR_NONE;
    return address.s_addr;
}

char* inet_ntoa(in_addr in) {
    const auto* b = reinterpret_cast<const unsigned char*>(&in.s_addr);
    std::snprintf(t_dotted, sizeof t_dotted, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return t_dotted;
}

HANDLE WSAAsyncGetHostByName(HWND window, UINT msg, const char* name, char* buf, int buflen) {
    if (!socketsReady()) return nullptr;
    if (window == nullptr || name == nullptr || buf == nullptr) {
        WSASetLastError(WSAEFAULT);
        return nullptr;
    }
    // The worker owns its copy of the name: the caller's may be gone before it runs.
    const auto handle = AsyncLookupService::instance().start(
        window, msg, buf, buflen,
        [name = std::string(name)](HostLookup& host) { return host.byName(name.c_str()); });
    return reinterpret_cast<HANDLE>(handle);
}

HANDLE WSAAsyncGetHostByAddr(HWND window, UINT msg, const char* addr, int len, int type,
                             char* buf, int buflen) {
    if (!socketsReady()) return nullptr;
    if (window == nullptr || addr == nullptr || buf == nullptr || len < 4) {
        WSASetLastError(WSAEFAULT);
        return nullptr;
    }
    if (type != AF_INET) {
        WSASetLastError(WSAEAFNOSUPPORT);
        return nullptr;
    }
    const std::string address(addr, 4);
    const auto handle = AsyncLookupService::instance().start(
        window, msg, buf, buflen, [address](HostLookup& host) {
            return host.byAddr(address.data(), int(address.size()), AF_INET);
        });
    return reinterpret_cast<HANDLE>(handle);
}

HANDLE WSAAsyncGetHostByName6(HWND window, UINT msg, const char* name, char* buf, int buflen) {
    if (!socketsReady()) return nullptr;
    if (window == nullptr || name == nullptr || buf == nullptr) {
        WSASetLastError(WSAEFAULT);
        return nullptr;
    }
    const auto handle = AsyncLookupService::instance().start(
        window, msg, buf, buflen, [name = std::string(name)](HostLookup& host) {
            return host.byName(name.c_str(), AF_INET6);
        });
    return reinterpret_cast<HANDLE>(handle);
}

HANDLE WSAAsyncGetHostByAddr6(HWND window, UINT msg, const in6_addr& address, char* buf,
                              int buflen) {
    if (!socketsReady()) return nullptr;
    if (window == nullptr || buf == nullptr) {
        WSASetLastError(WSAEFAULT);
        return nullptr;
    }
    const std::string bytes(reinterpret_cast<const char*>(&address), sizeof address);
    const auto handle = AsyncLookupService::instance().start(
        window, msg, buf, buflen, [bytes](HostLookup& host) {
            return host.byAddr(bytes.data(), int(bytes.size()), AF_INET6);
        });
    return reinterpret_cast<HANDLE>(handle);
}

int WSACancelAsyncRequest(HANDLE asyncTask) {
    if (!socketsReady()) return SOCKET_ERROR;
    if (!AsyncLookupService::instance().cancel(reinterpret_cast<std::uintptr_t>(asyncTask)))
        return failWith(WSAEINVAL);
    return 0;
}

} // namespace win
