#include "platform/icmpprobesocket.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>
#include <random>

#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace win {
namespace {

constexpr std::size_t kIcmpHeader = 8;
constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kEchoRequest = 8;

std::uint16_t readWord(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

// The sequence number a packet answers, so that the request's own key can check
// the rest: ping sockets hand over the echo reply, or (error queue) our request
// itself; raw sockets the IP packet, whose ICMP error quotes our request.
std::optional<std::uint16_t> answeredSequence(const std::uint8_t* p, std::size_t size,
                                              IcmpSocketKind kind, int family) {
    if (family == AF_INET6 && kind == IcmpSocketKind::Raw) {
        // No IPv6 header in front: the reply, or the error quoting the IPv6 header
        // (40 bytes) of our request and then the request.
        if (size < kIcmpHeader) return std::nullopt;
        if (p[0] == ICMP6_ECHO_REPLY) return readWord(p + 6);
        if (size < kIcmpHeader + 40 + kIcmpHeader) return std::nullopt;
        return readWord(p + kIcmpHeader + 40 + 6);
    }
    if (kind == IcmpSocketKind::Ping) {
        if (size < kIcmpHeader) return std::nullopt;
        return readWord(p + 6);
    }
    if (size < 20) return std::nullopt;
    const std::size_t ihl = static_cast<std::size_t>(p[0] & 0x0f) * 4;
    if (ihl < 20 || size < ihl + kIcmpHeader) return std::nullopt;
    const std::uint8_t* icmp = p + ihl;
    if (icmp[0] == kEchoReply) return readWord(icmp + 6);
    const std::size_t quoted = ihl + kIcmpHeader;
    if (size < quoted + 20) return std::nullopt;
    const std::size_t innerIhl = static_cast<std::size_t>(p[quoted] & 0x0f) * 4;
    if (innerIhl < 20 || size < quoted + innerIhl + kIcmpHeader) return std::nullopt;
    return readWord(p + quoted + innerIhl + 6);
}

double arrival(const msghdr& msg) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr;
         c = CMSG_NXTHDR(const_cast<msghdr*>(&msg), c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS ||
            c->cmsg_len < CMSG_LEN(sizeof(timespec)))
            continue;
        timespec t{};
        std::memcpy(&t, CMSG_DATA(c), sizeof t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
    }
    return 0;
}

} // namespace

IcmpProbeSocket::IcmpProbeSocket(int family) : m_family(family) {
    if (family == AF_INET6) {
        openV6();
        return;
    }
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (m_fd >= 0) {
        m_kind = IcmpSocketKind::Ping;
        // Time exceeded and unreachable come through the error queue, with the
        // router that sent them.
        const int on = 1;
        ::setsockopt(m_fd, SOL_IP, IP_RECVERR, &on, sizeof on);
    } else {
        m_fd = ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (m_fd < 0) return;
        m_kind = IcmpSocketKind::Raw;
        // A raw socket sees every ICMP packet of the host: the identifier tells
        // this socket's requests from everyone else's.
        m_identifier = static_cast<std::uint16_t>(std::random_device{}());
        icmp_filter filter{};
        filter.data = ~((1U << ICMP_ECHOREPLY) | (1U << ICMP_DEST_UNREACH) |
                        (1U << ICMP_TIME_EXCEEDED) | (1U << ICMP_PARAMETERPROB));
        ::setsockopt(m_fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    }
    const int on = 1;
    ::setsockopt(m_fd, SOL_IP, IP_RECVTTL, &on, sizeof on);
    // Answers read together, a round's worth at a time, each keep their own time
    // of arrival rather than the time of the read.
    ::setsockopt(m_fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
}

void IcmpProbeSocket::openV6() {
    const int on = 1;
    m_fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMPV6);
    if (m_fd >= 0) {
        m_kind = IcmpSocketKind::Ping;
        ::setsockopt(m_fd, SOL_IPV6, IPV6_RECVERR, &on, sizeof on);
    } else {
        m_fd = ::socket(AF_INET6, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMPV6);
        if (m_fd < 0) return;
        m_kind = IcmpSocketKind::Raw;
        m_identifier = static_cast<std::uint16_t>(std::random_device{}());
        icmp6_filter filter{};
        ICMP6_FILTER_SETBLOCKALL(&filter);
        for (int type :
             {ICMP6_ECHO_REPLY, ICMP6_DST_UNREACH, ICMP6_TIME_EXCEEDED, ICMP6_PARAM_PROB})
            ICMP6_FILTER_SETPASS(type, &filter);
        ::setsockopt(m_fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
    }
    ::setsockopt(m_fd, SOL_IPV6, IPV6_RECVHOPLIMIT, &on, sizeof on);
    ::setsockopt(m_fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
}

IcmpProbeSocket::~IcmpProbeSocket() {
    if (m_fd >= 0) ::close(m_fd);
}

int IcmpProbeSocket::send(IPAddr destination, std::uint8_t ttl, std::uint16_t sequence,
                          const void* data, std::size_t size) {
    const int value = ttl;
    // The time-to-live is read when the datagram is sent, so one socket carries
    // every hop's probe.
    if (::setsockopt(m_fd, SOL_IP, IP_TTL, &value, sizeof value) != 0) return errno;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
    return sendPacket(kEchoRequest, sequence, data, size, reinterpret_cast<const sockaddr*>(&to),
                      sizeof to);
}

int IcmpProbeSocket::send6(const in6_addr& destination, std::uint8_t ttl, std::uint16_t sequence,
                           const void* data, std::size_t size) {
    const int value = ttl;
    if (::setsockopt(m_fd, SOL_IPV6, IPV6_UNICAST_HOPS, &value, sizeof value) != 0) return errno;
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_addr = destination;
    return sendPacket(ICMP6_ECHO_REQUEST, sequence, data, size,
                      reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

int IcmpProbeSocket::sendPacket(std::uint8_t type, std::uint16_t sequence, const void* data,
                                std::size_t size, const sockaddr* to, socklen_t toSize) {
    std::uint8_t packet[kIcmpHeader + 256] = {};
    if (size > sizeof packet - kIcmpHeader) size = sizeof packet - kIcmpHeader;
    packet[0] = type;
    packet[4] = static_cast<std::uint8_t>(m_identifier >> 8);
    packet[5] = static_cast<std::uint8_t>(m_identifier);
    packet[6] = static_cast<std::uint8_t>(sequence >> 8);
    packet[7] = static_cast<std::uint8_t>(sequence);
    if (size > 0) std::memcpy(packet + kIcmpHeader, data, size);
    // ICMPv6's checksum covers a pseudo-header the kernel fills in itself.
    if (m_family == AF_INET) {
        const std::uint16_t sum = icmpChecksum(packet, kIcmpHeader + size);
        packet[2] = static_cast<std::uint8_t>(sum >> 8);
        packet[3] = static_cast<std::uint8_t>(sum);
    }
    // A ping socket reports an ICMP error about an earlier probe (time exceeded,
    // unreachable: the error queue has it too) once more, by failing the next
    // send; that probe never left, and goes again. A failure of its own repeats.
    for (int tries = 0;; ++tries) {
        if (::sendto(m_fd, packet, kIcmpHeader + size, MSG_NOSIGNAL, to, toSize) >= 0) return 0;
        if (m_kind != IcmpSocketKind::Ping || tries == 8 || errno == EAGAIN || errno == EINTR)
            return errno;
    }
}

std::vector<IcmpProbeSocket::Answer> IcmpProbeSocket::readAnswers(IPAddr destination) {
    std::vector<Answer> out;
    if (m_fd < 0) return out;
    EchoRequestKey key{m_kind, m_identifier, 0, destination};
    if (m_kind == IcmpSocketKind::Ping) readQueue(true, key, out);
    readQueue(false, key, out);
    return out;
}

std::vector<IcmpProbeSocket::Answer> IcmpProbeSocket::readAnswers6(const in6_addr& destination) {
    std::vector<Answer> out;
    if (m_fd < 0) return out;
    EchoRequestKey key{m_kind, m_identifier, 0, 0, destination};
    if (m_kind == IcmpSocketKind::Ping) readQueue(true, key, out);
    readQueue(false, key, out);
    return out;
}

void IcmpProbeSocket::readQueue(bool errors, const EchoRequestKey& destination,
                                std::vector<Answer>& out) {
    // A flood of others' traffic is left for the next wake-up rather than read
    // here without end.
    for (int reads = 0; reads < 512; ++reads) {
        std::uint8_t packet[2048];
        alignas(cmsghdr) char control[512];
        sockaddr_in6 from{}; // room for either family
        iovec iov{packet, sizeof packet};
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(m_fd, &msg, MSG_DONTWAIT | (errors ? MSG_ERRQUEUE : 0));
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            // A pending socket error is reported once by an ordinary read.
            continue;
        }
        const auto size = static_cast<std::size_t>(n);
        const auto sequence = answeredSequence(packet, size, m_kind, m_family);
        if (!sequence) continue;
        EchoRequestKey key = destination;
        key.sequence = *sequence;
        std::optional<IcmpAnswer> answer;
        if (m_family == AF_INET6)
            answer = m_kind == IcmpSocketKind::Raw ? matchRaw6Packet(packet, size, msg, from, key)
                     : errors                      ? matchPing6Error(packet, size, msg, key)
                                                   : matchPing6Reply(packet, size, msg, from, key);
        else if (m_kind == IcmpSocketKind::Raw)
            answer = matchRawPacket(packet, size, key);
        else if (errors)
            answer = matchPingError(packet, size, msg, key);
        else {
            sockaddr_in from4{};
            std::memcpy(&from4, &from, sizeof from4);
            answer = matchPingReply(packet, size, msg, from4.sin_addr.s_addr, key);
        }
        if (answer) out.push_back({*sequence, std::move(*answer), arrival(msg)});
    }
}

} // namespace win
