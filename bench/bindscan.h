#pragma once
// The bare port check the port check window is measured against: socket, bind to
// 0.0.0.0:port, close, and where IPv4 was free the same on [::]:port with
// IPV6_V6ONLY, as the window tries both families.
#include <cerrno>
#include <cstdint>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bench {

// 1 when the port is taken on either family, 0 when it is free, -1 when a call
// failed with anything but "in use".
inline int bindTaken(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool taken = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0;
    const int error = errno;
    ::close(fd);
    if (taken) return error == EADDRINUSE ? 1 : -1;
    const int fd6 = ::socket(AF_INET6, SOCK_STREAM, 0);
    if (fd6 < 0) return -1;
    const int on = 1;
    ::setsockopt(fd6, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    sockaddr_in6 a6{};
    a6.sin6_family = AF_INET6;
    a6.sin6_addr = in6addr_any;
    a6.sin6_port = htons(static_cast<std::uint16_t>(port));
    const bool taken6 = ::bind(fd6, reinterpret_cast<sockaddr*>(&a6), sizeof a6) != 0;
    const int error6 = errno;
    ::close(fd6);
    if (taken6) return error6 == EADDRINUSE ? 1 : -1;
    return 0;
}

// Ports first..65535 through bindTaken: how many are taken, or -1 as soon as one
// call failed otherwise.
inline int bindScan(int first) {
    int inUse = 0;
    for (int port = first; port <= 65535; ++port) {
        const int taken = bindTaken(port);
        if (taken < 0) return -1;
        inUse += taken;
    }
    return inUse;
}

} // namespace bench
