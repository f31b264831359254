#pragma once
// Addresses and free ports on this machine for tests that talk to the tools
// through plain POSIX sockets.
#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testing_support {

// 127.0.0.1 (or another dotted address of this machine) and a port.
inline sockaddr_in loopback(int port, const char* address = "127.0.0.1") {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, address, &a.sin_addr);
    return a;
}

// An address of either family ("127.0.0.2", "::1") and a port, as bind and
// connect take it.
struct AnyAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family() const { return storage.ss_family; }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

inline AnyAddress anyAddress(int port, const char* text) {
    AnyAddress a;
    auto* six = reinterpret_cast<sockaddr_in6*>(&a.storage);
    if (::inet_pton(AF_INET6, text, &six->sin6_addr) == 1) {
        six->sin6_family = AF_INET6;
        six->sin6_port = htons(static_cast<std::uint16_t>(port));
        a.length = sizeof(sockaddr_in6);
    } else {
        *reinterpret_cast<sockaddr_in*>(&a.storage) = loopback(port, text);
        a.length = sizeof(sockaddr_in);
    }
    return a;
}

// The loopback address of the family of `address`: ::1 or 127.0.0.1.
inline const char* loopbackOf(const char* address) {
    return anyAddress(0, address).family() == AF_INET6 ? "::1" : "127.0.0.1";
}

// A port of the given kind (SOCK_STREAM, SOCK_DGRAM) that nothing uses right now.
inline int freePort(int type) {
    const int fd = ::socket(AF_INET, type, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

} // namespace testing_support
