#include "platform/tcpsyn.h"

#include <algorithm>
#include <cstring>

namespace win {
namespace {

constexpr std::uint8_t kTcp = 6;
constexpr std::uint8_t kSyn = 0x02;
constexpr std::uint8_t kAck = 0x10;
constexpr std::uint16_t kFragmentOffset = 0x1fff;
constexpr std::size_t kMaxFilterPorts = 200;

std::uint16_t word(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

sock_filter statement(std::uint16_t code, std::uint32_t k) {
    return sock_filter{code, 0, 0, k};
}

sock_filter jump(std::uint16_t code, std::uint32_t k, std::uint8_t jt, std::uint8_t jf) {
    return sock_filter{code, jt, jf, k};
}

// What follows the SYN check in both filters, with X set so that the TCP header
// starts at X: one comparison per port, a match jumping to the acceptance.
void acceptPorts(std::vector<sock_filter>& f, const std::vector<std::uint16_t>& ports) {
    if (ports.size() > kMaxFilterPorts) {
        // Beyond what the jumps can span every SYN goes up, and the reader picks.
        f.push_back(statement(BPF_RET | BPF_K, static_cast<std::uint32_t>(SynSnapLength)));
        return;
    }
    const std::size_t count = ports.size();
    f.push_back(statement(BPF_LD | BPF_H | BPF_IND, 2));
    // One comparison per port; a match jumps over the rest and the refusal to the
    // acceptance at the end.
    for (std::size_t i = 0; i < count; ++i)
        f.push_back(
            jump(BPF_JMP | BPF_JEQ | BPF_K, ports[i], static_cast<std::uint8_t>(count - i), 0));
    f.push_back(statement(BPF_RET | BPF_K, 0));
    f.push_back(statement(BPF_RET | BPF_K, static_cast<std::uint32_t>(SynSnapLength)));
}

void synOnly(std::vector<sock_filter>& f) {
    f.push_back(statement(BPF_LD | BPF_B | BPF_IND, 13));
    f.push_back(statement(BPF_ALU | BPF_AND | BPF_K, kSyn | kAck));
    f.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, kSyn, 1, 0));
    f.push_back(statement(BPF_RET | BPF_K, 0));
}

} // namespace

std::optional<TcpSyn> parseIncomingSyn6(const std::uint8_t* segment, std::size_t size,
                                        const std::array<std::uint8_t, 16>& peer6) {
    // The flags are the 14th byte of the TCP header.
    if (segment == nullptr || size < 14) return std::nullopt;
    if ((segment[13] & (kSyn | kAck)) != kSyn) return std::nullopt;
    TcpSyn syn;
    syn.v6 = true;
    syn.peer6 = peer6;
    syn.peerPort = word(segment);
    syn.localPort = word(segment + 2);
    return syn;
}

std::optional<TcpSyn> parseIncomingSyn(const std::uint8_t* packet, std::size_t size) {
    if (packet == nullptr || size < 20 || (packet[0] >> 4) != 4) return std::nullopt;
    const std::size_t ihl = static_cast<std::size_t>(packet[0] & 0x0f) * 4;
    if (ihl < 20 || packet[9] != kTcp || (word(packet + 6) & kFragmentOffset) != 0)
        return std::nullopt;
    // The flags are the 14th byte of the TCP header.
    if (size < ihl + 14) return std::nullopt;
    const std::uint8_t* tcp = packet + ihl;
    if ((tcp[13] & (kSyn | kAck)) != kSyn) return std::nullopt;
    TcpSyn syn;
    std::memcpy(&syn.peer, packet + 12, 4);
    syn.peerPort = word(tcp);
    syn.localPort = word(tcp + 2);
    return syn;
}

std::vector<sock_filter> synFilter(const std::vector<std::uint16_t>& ports) {
    std::vector<sock_filter> f;
    // A raw TCP socket sees only TCP; the check costs one instruction and keeps the
    // filter right for any socket that starts at the IP header.
    f.push_back(statement(BPF_LD | BPF_B | BPF_ABS, 9));
    f.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, kTcp, 1, 0));
    f.push_back(statement(BPF_RET | BPF_K, 0));
    f.push_back(statement(BPF_LD | BPF_H | BPF_ABS, 6));
    f.push_back(jump(BPF_JMP | BPF_JSET | BPF_K, kFragmentOffset, 0, 1));
    f.push_back(statement(BPF_RET | BPF_K, 0));
    // X = the IP header's length; the TCP header's fields are read relative to it.
    f.push_back(statement(BPF_LDX | BPF_B | BPF_MSH, 0));
    synOnly(f);
    acceptPorts(f, ports);
    return f;
}

std::vector<sock_filter> synFilter6(const std::vector<std::uint16_t>& ports) {
    // The kernel has taken the IPv6 header and its extensions off: the segment
    // starts the packet, and only TCP reaches a raw TCP socket.
    std::vector<sock_filter> f;
    f.push_back(statement(BPF_LDX | BPF_W | BPF_IMM, 0));
    synOnly(f);
    acceptPorts(f, ports);
    return f;
}

} // namespace win
