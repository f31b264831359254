#include "platform/icmpmatch.h"

#include <cstring>

#include <linux/errqueue.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>

namespace win {
namespace {

constexpr std::size_t kIcmpHeader = 8;
constexpr std::size_t kIpv6Header = 40;

std::uint16_t readWord(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

bool cmsgHolds(const msghdr& msg, const cmsghdr* c, std::size_t need) {
    const auto* end = static_cast<const unsigned char*>(msg.msg_control) + msg.msg_controllen;
    const auto* data = reinterpret_cast<const unsigned char*>(CMSG_DATA(c));
    return c->cmsg_len >= CMSG_LEN(need) && data <= end &&
           static_cast<std::size_t>(end - data) >= need;
}

// The hop limit the answer arrived with, where the socket asked for it.
void readHopLimit(const msghdr& msg, IcmpAnswer& answer) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr;
         c = CMSG_NXTHDR(const_cast<msghdr*>(&msg), c)) {
        if (c->cmsg_level == SOL_IPV6 && c->cmsg_type == IPV6_HOPLIMIT &&
            cmsgHolds(msg, c, sizeof(int))) {
            int hops = 0;
            std::memcpy(&hops, CMSG_DATA(c), sizeof hops);
            answer.ttl = static_cast<std::uint8_t>(hops);
        }
    }
}

bool isOurRequest(const std::uint8_t* icmp, std::size_t size, const EchoRequestKey& key) {
    if (size < kIcmpHeader || icmp[0] != ICMP6_ECHO_REQUEST || readWord(icmp + 6) != key.sequence)
        return false;
    return key.kind == IcmpSocketKind::Ping || readWord(icmp + 4) == key.identifier;
}

} // namespace

std::optional<IcmpAnswer> matchPing6Reply(const std::uint8_t* packet, std::size_t size,
                                          const msghdr& msg, const sockaddr_in6& from,
                                          const EchoRequestKey& key) {
    if (size < kIcmpHeader || packet[0] != ICMP6_ECHO_REPLY || readWord(packet + 6) != key.sequence)
        return std::nullopt;
    IcmpAnswer answer;
    answer.from6 = from;
    answer.type = packet[0];
    answer.code = packet[1];
    answer.data.assign(packet + kIcmpHeader, packet + size);
    readHopLimit(msg, answer);
    return answer;
}

std::optional<IcmpAnswer> matchPing6Error(const std::uint8_t* packet, std::size_t size,
                                          const msghdr& msg, const EchoRequestKey& key) {
    if (!isOurRequest(packet, size, key)) return std::nullopt;
    IcmpAnswer answer;
    bool icmp = false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr;
         c = CMSG_NXTHDR(const_cast<msghdr*>(&msg), c)) {
        if (c->cmsg_level != SOL_IPV6 || c->cmsg_type != IPV6_RECVERR ||
            !cmsgHolds(msg, c, sizeof(sock_extended_err)))
            continue;
        sock_extended_err err{};
        std::memcpy(&err, CMSG_DATA(c), sizeof err);
        if (err.ee_origin != SO_EE_ORIGIN_ICMP6) continue;
        icmp = true;
        answer.type = err.ee_type;
        answer.code = err.ee_code;
        if (cmsgHolds(msg, c, sizeof(sock_extended_err) + sizeof(sockaddr_in6))) {
            sockaddr_in6 offender{};
            std::memcpy(&offender, CMSG_DATA(c) + sizeof(sock_extended_err), sizeof offender);
            if (offender.sin6_family == AF_INET6) answer.from6 = offender;
        }
    }
    if (!icmp) return std::nullopt;
    readHopLimit(msg, answer);
    return answer;
}

std::optional<IcmpAnswer> matchRaw6Packet(const std::uint8_t* packet, std::size_t size,
                                          const msghdr& msg, const sockaddr_in6& from,
                                          const EchoRequestKey& key) {
    if (size < kIcmpHeader) return std::nullopt;
    IcmpAnswer answer;
    answer.from6 = from;
    answer.type = packet[0];
    answer.code = packet[1];
    readHopLimit(msg, answer);
    if (answer.type == ICMP6_ECHO_REPLY) {
        if (readWord(packet + 4) != key.identifier || readWord(packet + 6) != key.sequence)
            return std::nullopt;
        answer.data.assign(packet + kIcmpHeader, packet + size);
        return answer;
    }
    // An error quotes as much of our request as fits: its IPv6 header, then (no
    // extension headers on ours) the echo request itself.
    const std::uint8_t* inner = packet + kIcmpHeader;
    const std::size_t innerSize = size - kIcmpHeader;
    if (innerSize < kIpv6Header + kIcmpHeader || (inner[0] >> 4) != 6 || inner[6] != IPPROTO_ICMPV6)
        return std::nullopt;
    if (std::memcmp(inner + 24, &key.destination6, sizeof key.destination6) != 0)
        return std::nullopt;
    if (!isOurRequest(inner + kIpv6Header, innerSize - kIpv6Header, key)) return std::nullopt;
    return answer;
}

} // namespace win
