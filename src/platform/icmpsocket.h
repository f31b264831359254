#pragma once
#include "platform/icmp.h"
#include "platform/icmpmatch.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>

namespace win {

// One ICMP socket for one echo request: a ping socket where the system lets this
// process open one, a raw socket otherwise. It sends one request and picks its
// own answer out of whatever else arrives.
class IcmpSocket {
public:
    // AF_INET for ICMP, AF_INET6 for ICMPv6.
    explicit IcmpSocket(int family = AF_INET);
    ~IcmpSocket();
    IcmpSocket(const IcmpSocket&) = delete;
    IcmpSocket& operator=(const IcmpSocket&) = delete;

    IcmpSocketKind kind() const { return m_kind; }
    bool isOpen() const { return m_fd >= 0; }

    // TTL 0 keeps the system's default (for ICMPv6: the hop limit and traffic
    // class; IPv6 routers never fragment, so there is no flag to keep).
    void setOptions(std::uint8_t ttl, std::uint8_t tos, bool dontFragment);
    // 0, or the errno of the failed send.
    int send(IPAddr destination, const void* data, std::size_t size);
    // The ICMPv6 socket's, from `source` when it names an address.
    int send6(const sockaddr_in6* source, const sockaddr_in6& destination, const void* data,
              std::size_t size);
    // The answer to the request sent, or nothing by the deadline.
    std::optional<IcmpAnswer> await(std::chrono::steady_clock::time_point deadline);

private:
    void openV6();
    std::optional<IcmpAnswer> readQueued(bool errors);
    EchoRequestKey key() const;

    int m_fd = -1;
    int m_family = AF_INET;
    IcmpSocketKind m_kind = IcmpSocketKind::None;
    std::uint16_t m_identifier = 0; // raw sockets; a ping socket's is the kernel's
    std::uint16_t m_sequence = 0;
    IPAddr m_destination = 0;
    in6_addr m_destination6{};
};

} // namespace win
