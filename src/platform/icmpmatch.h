#pragma once
#include "platform/icmp.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>

namespace win {

// What came back for one echo request: an echo reply (type 0) or an ICMP error
// about the request (time exceeded, destination unreachable, ...).
struct IcmpAnswer {
    IPAddr from = 0; // network byte order
    std::uint8_t type = 0;
    std::uint8_t code = 0;
    std::uint8_t ttl = 0;
    std::uint8_t tos = 0;
    std::vector<std::uint8_t> data; // the echoed data of an echo reply
    sockaddr_in6 from6{};           // who answered an ICMPv6 request (`from` stays 0)
};

// The request an answer must belong to.
struct EchoRequestKey {
    IcmpSocketKind kind = IcmpSocketKind::None;
    std::uint16_t identifier = 0; // raw sockets; a ping socket's is the kernel's
    std::uint16_t sequence = 0;
    IPAddr destination = 0;
    in6_addr destination6{}; // an ICMPv6 request's
};

// Picking our answer out of whatever an ICMP socket reads: packets from the
// network, so every length and offset in them is checked before it is used.

// A packet of a raw socket, IP header first: our echo reply (identifier, sequence,
// checksum), or an ICMP error quoting our request to our destination.
std::optional<IcmpAnswer> matchRawPacket(const std::uint8_t* packet, std::size_t size,
                                         const EchoRequestKey& key);
// An echo reply read from a ping socket (ICMP header first, the kernel has matched
// the identifier) from `from`; TTL and TOS from the message's control data.
std::optional<IcmpAnswer> matchPingReply(const std::uint8_t* packet, std::size_t size,
                                         const msghdr& msg, IPAddr from,
                                         const EchoRequestKey& key);
// What a ping socket's error queue gives: our request as it was sent, and the
// ICMP error about it in the control data (redirects are advice, not answers).
std::optional<IcmpAnswer> matchPingError(const std::uint8_t* packet, std::size_t size,
                                         const msghdr& msg, const EchoRequestKey& key);

// The same for ICMPv6, where every socket hands over the ICMPv6 message without
// the IPv6 header (the kernel has checked its checksum): a raw socket's echo reply
// or error quoting our request, read from `from`.
std::optional<IcmpAnswer> matchRaw6Packet(const std::uint8_t* packet, std::size_t size,
                                          const msghdr& msg, const sockaddr_in6& from,
                                          const EchoRequestKey& key);
std::optional<IcmpAnswer> matchPing6Reply(const std::uint8_t* packet, std::size_t size,
                                          const msghdr& msg, const sockaddr_in6& from,
                                          const EchoRequestKey& key);
std::optional<IcmpAnswer> matchPing6Error(const std::uint8_t* packet, std::size_t size,
                                          const msghdr& msg, const EchoRequestKey& key);

// The Internet checksum of `size` bytes.
std::uint16_t icmpChecksum(const std::uint8_t* data, std::size_t size);

} // namespace win
