#include "platform/ws2tcpip.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <arpa/inet.h>

namespace win {

int WSAErrorFromAddrInfo(int eaiError) {
    switch (eaiError) {
    case 0: return 0;
    case EAI_NONAME: return WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return WSATRY_AGAIN;
    case EAI_NODATA: return WSANO_DATA;
    case EAI_ADDRFAMILY: return WSANO_DATA;
    case EAI_FAMILY: return WSAEAFNOSUPPORT;
    case EAI_SOCKTYPE: return WSAESOCKTNOSUPPORT;
    case EAI_SERVICE: return WSATYPE_NOT_FOUND;
    case EAI_BADFLAGS: return WSAEINVAL;
    case EAI_MEMORY: return WSA_NOT_ENOUGH_MEMORY;
    case EAI_OVERFLOW: return WSAEFAULT;
    case EAI_SYSTEM: return WSAErrorFromErrno(errno);
    // EAI_FAIL and whatever else the resolver may answer.
    default: return WSANO_RECOVERY;
    }
}

int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result) {
    if (result == nullptr) {
        WSASetLastError(WSAEFAULT);
        return WSAEFAULT;
    }
    *result = nullptr;
    // Windows asks for a name or a service, as the system does.
    if (node == nullptr && service == nullptr) {
        WSASetLastError(WSAHOST_NOT_FOUND);
        return WSAHOST_NOT_FOUND;
    }
    const int error = WSAErrorFromAddrInfo(::getaddrinfo(node, service, hints, result));
    if (error != 0) *result = nullptr;
    WSASetLastError(error);
    return error;
}

void freeaddrinfo(addrinfo* list) {
    if (list != nullptr) ::freeaddrinfo(list);
}

int inet_pton(int family, const char* text, void* out) {
    if (family != AF_INET && family != AF_INET6) {
        WSASetLastError(WSAEAFNOSUPPORT);
        return SOCKET_ERROR;
    }
    if (text == nullptr || out == nullptr) {
        WSASetLastError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    return ::inet_pton(family, text, out) == 1 ? 1 : 0;
}

const char* inet_ntop(int family, const void* address, char* out, std::size_t size) {
    if (family != AF_INET && family != AF_INET6) {
        WSASetLastError(WSAEAFNOSUPPORT);
        return nullptr;
    }
    if (address == nullptr || out == nullptr) {
        WSASetLastError(WSAEFAULT);
        return nullptr;
    }
    if (::inet_ntop(family, address, out, socklen_t(size)) == nullptr) {
        WSASetLastError(WSAEINVAL);
        return nullptr;
    }
    return out;
}

int WSAAddressToStringA(const sockaddr* address, DWORD addressLength, void* /*protocolInfo*/,
                        char* out, DWORD* length) {
    if (address == nullptr || length == nullptr) {
        WSASetLastError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    char host[INET6_ADDRSTRLEN] = {};
    std::string text;
    if (address->sa_family == AF_INET && addressLength >= sizeof(sockaddr_in)) {
        sockaddr_in v4;
        std::memcpy(&v4, address, sizeof v4);
        ::inet_ntop(AF_INET, &v4.sin_addr, host, sizeof host);
        text = host;
        if (v4.sin_port != 0) text += ":" + std::to_string(ntohs(v4.sin_port));
    } else if (address->sa_family == AF_INET6 && addressLength >= sizeof(sockaddr_in6)) {
        sockaddr_in6 v6;
        std::memcpy(&v6, address, sizeof v6);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, host, sizeof host);
        text = host;
        if (v6.sin6_scope_id != 0) text += "%" + std::to_string(v6.sin6_scope_id);
        if (v6.sin6_port != 0) text = "[" + text + "]:" + std::to_string(ntohs(v6.sin6_port));
    } else {
        WSASetLastError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    const DWORD need = DWORD(text.size() + 1);
    const DWORD room = *length;
    *length = need;
    if (out == nullptr || room < need) {
        WSASetLastError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    std::memcpy(out, text.c_str(), need);
    return 0;
}

} // namespace win
