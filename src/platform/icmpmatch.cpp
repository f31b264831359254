#include "platform/icmpmatch.h"

#include <cstring>

#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <netinet/ip.h>

namespace win {
namespace {

constexpr std::size_t kIcmpHeader = 8;
constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kEchoRequest = 8;

std::uint16_t readWord(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

// Whether `need` bytes of data after the header of `c` lie inside the message's
// control buffer (a header may claim more than the buffer holds).
bool cmsgHolds(const msghdr& msg, const cmsghdr* c, std::size_t need) {
    const auto* end = static_cast<const unsigned char*>(msg.msg_control) + msg.msg_controllen;
    const auto* data = reinterpret_cast<const unsigned char*>(CMSG_DATA(c));
    return c->cmsg_len >= CMSG_LEN(need) && data <= end &&
           static_cast<std::size_t>(end - data) >= need;
}

void readCmsgs(const msghdr& msg, IcmpAnswer& answer) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr;
         c = CMSG_NXTHDR(const_cast<msghdr*>(&msg), c)) {
        if (c->cmsg_level != SOL_IP) continue;
        if (c->cmsg_type == IP_TTL && cmsgHolds(msg, c, sizeof(int))) {
            int ttl = 0;
            std::memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
            answer.ttl = static_cast<std::uint8_t>(ttl);
        } else if (c->cmsg_type == IP_TOS && cmsgHolds(msg, c, 1)) {
            answer.tos = *CMSG_DATA(c);
        }
    }
}

bool isOurRequest(const std::uint8_t* icmp, std::size_t size, const EchoRequestKey& key) {
    if (size < kIcmpHeader || icmp[0] != kEchoRequest || readWord(icmp + 6) != key.sequence)
        return false;
    // A ping socket's identifier is the kernel's, and only its own errors reach it.
    return key.kind == IcmpSocketKind::Ping || readWord(icmp + 4) == key.identifier;
}

} // namespace

std::uint16_t icmpChecksum(const std::uint8_t* data, std::size_t size) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        sum += readWord(data + i);
    if (size % 2) sum += static_cast<std::uint32_t>(data[size - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

std::optional<IcmpAnswer> matchPingReply(const std::uint8_t* packet, std::size_t size,
                                         const msghdr& msg, IPAddr from,
                                         const EchoRequestKey& key) {
    // The kernel hands a ping socket only echo replies carrying its identifier.
    if (size < kIcmpHeader || packet[0] != kEchoReply || readWord(packet + 6) != key.sequence)
        return std::nullopt;
    IcmpAnswer answer;
    answer.from = from;
    answer.type = packet[0];
    answer.code = packet[1];
    answer.data.assign(packet + kIcmpHeader, packet + size);
    readCmsgs(msg, answer);
    return answer;
}

std::optional<IcmpAnswer> matchPingError(const std::uint8_t* packet, std::size_t size,
                                         const msghdr& msg, const EchoRequestKey& key) {
    // The error queue returns the request the error is about, from its ICMP header.
    if (!isOurRequest(packet, size, key)) return std::nullopt;
    IcmpAnswer answer;
    bool icmp = false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr;
         c = CMSG_NXTHDR(const_cast<msghdr*>(&msg), c)) {
        if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR ||
            !cmsgHolds(msg, c, sizeof(sock_extended_err)))
            continue;
        sock_extended_err err{};
        std::memcpy(&err, CMSG_DATA(c), sizeof err);
        // A redirect is advice, not an answer: the request goes on.
        if (err.ee_origin != SO_EE_ORIGIN_ICMP || err.ee_type == ICMP_REDIRECT) continue;
        icmp = true;
        answer.type = err.ee_type;
        answer.code = err.ee_code;
        if (cmsgHolds(msg, c, sizeof(sock_extended_err) + sizeof(sockaddr_in))) {
            sockaddr_in offender{};
            std::memcpy(&offender, CMSG_DATA(c) + sizeof(sock_extended_err), sizeof offender);
            if (offender.sin_family == AF_INET) answer.from = offender.sin_addr.s_addr;
        }
    }
    if (!icmp) return std::nullopt;
    readCmsgs(msg, answer);
    return answer;
}

std::optional<IcmpAnswer> matchRawPacket(const std::uint8_t* packet, std::size_t size,
                                         const EchoRequestKey& key) {
    if (size < 20) return std::nullopt;
    const std::size_t ihl = static_cast<std::size_t>(packet[0] & 0x0f) * 4;
    if (ihl < 20 || size < ihl + kIcmpHeader) return std::nullopt;
    const std::uint8_t* icmp = packet + ihl;
    const std::size_t icmpSize = size - ihl;
    IcmpAnswer answer;
    std::memcpy(&answer.from, packet + 12, 4);
    answer.type = icmp[0];
    answer.code = icmp[1];
    answer.tos = packet[1];
    answer.ttl = packet[8];
    if (answer.type == kEchoReply) {
        if (readWord(icmp + 4) != key.identifier || readWord(icmp + 6) != key.sequence ||
            icmpChecksum(icmp, icmpSize) != 0)
            return std::nullopt;
        answer.data.assign(icmp + kIcmpHeader, icmp + icmpSize);
        return answer;
    }
    // An error quotes the IP header of our request and at least 8 bytes after it.
    const std::uint8_t* inner = icmp + kIcmpHeader;
    const std::size_t innerSize = icmpSize - kIcmpHeader;
    if (innerSize < 20) return std::nullopt;
    const std::size_t innerIhl = static_cast<std::size_t>(inner[0] & 0x0f) * 4;
    if (innerIhl < 20 || innerSize < innerIhl + kIcmpHeader || inner[9] != IPPROTO_ICMP)
        return std::nullopt;
    IPAddr quotedDestination = 0;
    std::memcpy(&quotedDestination, inner + 16, 4);
    if (quotedDestination != key.destination) return std::nullopt;
    if (!isOurRequest(inner + innerIhl, innerSize - innerIhl, key)) return std::nullopt;
    return answer;
}

} // namespace win
