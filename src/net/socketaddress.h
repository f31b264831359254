#pragma once
#include "platform/ws2tcpip.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace net {

// A peer's or a port's address of either family, kept whole, and written the one
// way every log line, caption and syslog line writes it: "127.0.0.1:41000",
// "[2001:db8::5]:41000", and an IPv4 address carried in IPv6 (::ffff:a.b.c.d) as
// the IPv4 address it is.
class SocketAddress {
public:
    SocketAddress() = default;
    // The first `length` bytes of `address` (a sockaddr_in or sockaddr_in6).
    SocketAddress(const win::sockaddr* address, int length);
    static SocketAddress v4(std::uint32_t networkOrder, std::uint16_t port);
    // The wildcard address of `family` with `port`.
    static SocketAddress any(int family, std::uint16_t port);
    // An address as typed: "10.0.0.1", "2001:db8::1" or "[2001:db8::1]" (blanks
    // around it ignored); an empty address (family 0) when it is neither.
    static SocketAddress fromText(std::string_view text, std::uint16_t port);

    int family() const { return m_storage.ss_family; }
    bool valid() const { return family() == AF_INET || family() == AF_INET6; }
    bool isV6() const { return family() == AF_INET6 && !isMappedV4(); }
    // The address without the port: "127.0.0.1", "2001:db8::5".
    std::string hostText() const;
    // With the port: "127.0.0.1:41000", "[2001:db8::5]:41000".
    std::string text() const;
    std::uint16_t port() const;
    void setPort(std::uint16_t port);
    // 127.0.0.0/8, ::1, and IPv4 loopback carried in IPv6.
    bool isLoopback() const;
    // The IPv4 address in network order (also of a mapped one), 0 for IPv6.
    std::uint32_t v4Address() const;
    // True for the same address of the same family (the port not compared).
    bool sameHost(const SocketAddress& other) const;

    const win::sockaddr* data() const { return reinterpret_cast<const win::sockaddr*>(&m_storage); }
    win::sockaddr* data() { return reinterpret_cast<win::sockaddr*>(&m_storage); }
    // The length to pass to bind, connect and sendto.
    int size() const;
    // The room there is, for accept and recvfrom.
    static constexpr int capacity() { return int(sizeof(win::sockaddr_storage)); }

private:
    bool isMappedV4() const;

    win::sockaddr_storage m_storage{};
};

} // namespace net
