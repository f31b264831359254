#pragma once
#include "platform/ws2tcpip.h"

#include <cstdint>

namespace tools {

// A server's IPv6 socket beside its IPv4 one: the same type on the same port of
// every IPv6 address, with IPV6_V6ONLY so that the two never collide, bound,
// listening (a stream socket) and registered for the same notifications. A
// server has two sockets rather than one that takes both families so that a port
// one family cannot have is still served on the other, and its IPv4 socket stays
// exactly what it always was.
struct Ipv6Listener {
    win::SOCKET socket = win::INVALID_SOCKET;
    int error = 0; // of the call that failed; the socket is then closed

    // `reuseAddress` asks for SO_REUSEADDR before the bind, as the UDP server
    // does on its IPv4 socket; `backlog` is that of the IPv4 socket's listen.
    static Ipv6Listener open(int type, std::uint16_t port, bool reuseAddress, int backlog,
                             win::HWND window);
};

} // namespace tools
