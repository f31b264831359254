#pragma once
#include "platform/winsock.h"

#include <gtest/gtest.h>

#include <cstring>

// Small helpers for tests on 127.0.0.1 with ports the system picks.
namespace loopback {

inline win::sockaddr_in address(win::u_short port, win::u_long host = 0x7f000001) {
    win::sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = win::htons(port);
    a.sin_addr.s_addr = win::htonl(host);
    return a;
}

inline const win::sockaddr* asSockaddr(const win::sockaddr_in& a) {
    return reinterpret_cast<const win::sockaddr*>(&a);
}

inline win::u_short portOf(win::SOCKET s) {
    win::sockaddr_in a{};
    int len = sizeof a;
    if (win::getsockname(s, reinterpret_cast<win::sockaddr*>(&a), &len) != 0) return 0;
    return win::ntohs(a.sin_port);
}

// A socket bound to 127.0.0.1 on `port` (0: the system picks one).
inline win::SOCKET bound(int type, win::u_short port = 0, win::u_long host = 0x7f000001) {
    const win::SOCKET s = win::socket(AF_INET, type, 0);
    if (s == win::INVALID_SOCKET) return s;
    const auto a = address(port, host);
    if (win::bind(s, asSockaddr(a), sizeof a) != 0) {
        win::closesocket(s);
        return win::INVALID_SOCKET;
    }
    return s;
}

inline win::SOCKET listener(win::u_short port = 0, win::u_long host = 0x7f000001) {
    const win::SOCKET s = bound(SOCK_STREAM, port, host);
    if (s != win::INVALID_SOCKET && win::listen(s, 8) != 0) {
        win::closesocket(s);
        return win::INVALID_SOCKET;
    }
    return s;
}

// A blocking client connected to 127.0.0.1:port.
inline win::SOCKET connected(win::u_short port) {
    const win::SOCKET s = win::socket(AF_INET, SOCK_STREAM, 0);
    const auto a = address(port);
    if (s != win::INVALID_SOCKET && win::connect(s, asSockaddr(a), sizeof a) != 0) {
        win::closesocket(s);
        return win::INVALID_SOCKET;
    }
    return s;
}

} // namespace loopback
