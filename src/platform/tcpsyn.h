#pragma once
// The connection requests (SYN segments) that reach this host, as a raw IPv4 or IPv6
// socket hands them over: the kernel filter that lets only those for our ports
// through, and the check of what comes out of it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include <linux/filter.h>

namespace win {

// A SYN on its way in: who asked for a connection to which of our ports.
struct TcpSyn {
    std::uint32_t peer = 0; // IPv4 address, network order
    std::uint16_t peerPort = 0;
    std::uint16_t localPort = 0;
    // An IPv6 SYN: `peer6` holds the address and `peer` is 0.
    bool v6 = false;
    std::array<std::uint8_t, 16> peer6{};
    bool operator==(const TcpSyn&) const = default;
};

// Bytes of a segment worth keeping: the longest IPv4 header and a TCP header.
constexpr std::size_t SynSnapLength = 60 + 20;

// An IPv4 packet, header first, read as a TCP segment: the SYN it carries (SYN set,
// ACK clear, so neither our own SYN-ACKs nor a connection's later segments count),
// or nothing for anything else, cut short or malformed. Fragments other than the
// first carry no TCP header and are refused; so is a first fragment too short to
// hold one.
std::optional<TcpSyn> parseIncomingSyn(const std::uint8_t* packet, std::size_t size);

// A TCP segment as a raw IPv6 socket hands it over: without the IPv6 header, which
// the kernel has taken off, so the sender comes from the socket's own answer
// (`peer6`, the address recvfrom gave). The same rules as for IPv4.
std::optional<TcpSyn> parseIncomingSyn6(const std::uint8_t* segment, std::size_t size,
                                        const std::array<std::uint8_t, 16>& peer6);

// The socket filter (classic BPF, run by the kernel on every TCP segment before it
// is queued to the socket) that keeps only SYNs to `ports`, cut to SynSnapLength
// bytes. An empty list lets nothing through. Jumps span at most 255 instructions:
// with more than 200 ports every SYN is let through and the reader must choose.
std::vector<sock_filter> synFilter(const std::vector<std::uint16_t>& ports);
// The same for a raw IPv6 socket, whose filter sees the TCP header at offset 0.
std::vector<sock_filter> synFilter6(const std::vector<std::uint16_t>& ports);

} // namespace win
