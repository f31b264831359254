#include "platform/icmpsocket.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>

#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace win {
namespace {

constexpr std::size_t kIcmpHeader = 8;
constexpr std::uint8_t kEchoRequest = 8;

std::uint16_t randomWord() {
    std::random_device device;
    return static_cast<std::uint16_t>(device());
}

// Raw sockets see every ICMP packet that reaches the host: the identifier tells
// our requests from other programs', the sequence number tells ours apart.
std::uint16_t processIdentifier() {
    static const std::uint16_t identifier = randomWord();
    return identifier;
}

std::uint16_t nextSequence() {
    static std::atomic<std::uint16_t> sequence{randomWord()};
    return sequence.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

IcmpSocket::IcmpSocket(int family) : m_family(family) {
    if (family == AF_INET6) {
        openV6();
        return;
    }
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (m_fd >= 0) {
        m_kind = IcmpSocketKind::Ping;
        // Errors about our requests (time exceeded, unreachable) come through the
        // error queue of a ping socket, with the router that sent them.
        const int on = 1;
        ::setsockopt(m_fd, SOL_IP, IP_RECVERR, &on, sizeof on);
    } else {
        m_fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (m_fd < 0) return;
        m_kind = IcmpSocketKind::Raw;
        m_identifier = processIdentifier();
        // Only the types that can answer an echo request wake us.
        icmp_filter filter{};
        filter.data =
            ~((1U << ICMP_ECHOREPLY) | (1U << ICMP_DEST_UNREACH) | (1U << ICMP_SOURCE_QUENCH) |
              (1U << ICMP_TIME_EXCEEDED) | (1U << ICMP_PARAMETERPROB));
        ::setsockopt(m_fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    }
    const int on = 1;
    ::setsockopt(m_fd, SOL_IP, IP_RECVTTL, &on, sizeof on);
    ::setsockopt(m_fd, SOL_IP, IP_RECVTOS, &on, sizeof on);
}

void IcmpSocket::openV6() {
    // The ping socket for ICMPv6 is allowed by the same group range as ICMP's.
    m_fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMPV6);
    const int on = 1;
    if (m_fd >= 0) {
        m_kind = IcmpSocketKind::Ping;
        ::setsockopt(m_fd, SOL_IPV6, IPV6_RECVERR, &on, sizeof on);
    } else {
        m_fd = ::socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6);
        if (m_fd < 0) return;
        m_kind = IcmpSocketKind::Raw;
        m_identifier = processIdentifier();
        icmp6_filter filter{};
        ICMP6_FILTER_SETBLOCKALL(&filter);
        for (int type : {ICMP6_ECHO_REPLY, ICMP6_DST_UNREACH, ICMP6_PACKET_TOO_BIG,
                         ICMP6_TIME_EXCEEDED, ICMP6_PARAM_PROB})
            ICMP6_FILTER_SETPASS(type, &filter);
        ::setsockopt(m_fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
    }
    ::setsockopt(m_fd, SOL_IPV6, IPV6_RECVHOPLIMIT, &on, sizeof on);
}

IcmpSocket::~IcmpSocket() {
    if (m_fd >= 0) ::close(m_fd);
}

void IcmpSocket::setOptions(std::uint8_t ttl, std::uint8_t tos, bool dontFragment) {
    if (m_family == AF_INET6) {
        const int hops = ttl, traffic = tos;
        if (ttl != 0) ::setsockopt(m_fd, SOL_IPV6, IPV6_UNICAST_HOPS, &hops, sizeof hops);
        ::setsockopt(m_fd, SOL_IPV6, IPV6_TCLASS, &traffic, sizeof traffic);
        return;
    }
    if (ttl != 0) {
        const int value = ttl;
        ::setsockopt(m_fd, SOL_IP, IP_TTL, &value, sizeof value);
    }
    const int tosValue = tos;
    ::setsockopt(m_fd, SOL_IP, IP_TOS, &tosValue, sizeof tosValue);
    const int discover = dontFragment ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    ::setsockopt(m_fd, SOL_IP, IP_MTU_DISCOVER, &discover, sizeof discover);
}

int IcmpSocket::send(IPAddr destination, const void* data, std::size_t size) {
    m_destination = destination;
    m_sequence = nextSequence();
    std::vector<std::uint8_t> packet(kIcmpHeader + size);
    packet[0] = kEchoRequest;
    packet[4] = static_cast<std::uint8_t>(m_identifier >> 8);
    packet[5] = static_cast<std::uint8_t>(m_identifier);
    packet[6] = static_cast<std::uint8_t>(m_sequence >> 8);
    packet[7] = static_cast<std::uint8_t>(m_sequence);
    if (size > 0) std::memcpy(packet.data() + kIcmpHeader, data, size);
    // A ping socket puts in its own identifier and checksum; a raw one sends ours.
    const std::uint16_t sum = icmpChecksum(packet.data(), packet.size());
    packet[2] = static_cast<std::uint8_t>(sum >> 8);
    packet[3] = static_cast<std::uint8_t>(sum);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
    const ssize_t sent = ::sendto(m_fd, packet.data(), packet.size(), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent < 0 ? errno : 0;
}

int IcmpSocket::send6(const sockaddr_in6* source, const sockaddr_in6& destination, const void* data,
                      std::size_t size) {
    if (source != nullptr && !IN6_IS_ADDR_UNSPECIFIED(&source->sin6_addr)) {
        sockaddr_in6 from = *source;
        from.sin6_family = AF_INET6;
        from.sin6_port = 0;
        if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) return errno;
    }
    m_destination6 = destination.sin6_addr;
    m_sequence = nextSequence();
    std::vector<std::uint8_t> packet(kIcmpHeader + size);
    packet[0] = ICMP6_ECHO_REQUEST;
    packet[4] = static_cast<std::uint8_t>(m_identifier >> 8);
    packet[5] = static_cast<std::uint8_t>(m_identifier);
    packet[6] = static_cast<std::uint8_t>(m_sequence >> 8);
    packet[7] = static_cast<std::uint8_t>(m_sequence);
    if (size > 0) std::memcpy(packet.data() + kIcmpHeader, data, size);
    // The checksum covers the IPv6 pseudo-header: the kernel fills it in, for
    // either kind of socket.
    sockaddr_in6 to = destination;
    to.sin6_family = AF_INET6;
    to.sin6_port = 0;
    const ssize_t sent = ::sendto(m_fd, packet.data(), packet.size(), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent < 0 ? errno : 0;
}

std::optional<IcmpAnswer> IcmpSocket::await(std::chrono::steady_clock::time_point deadline) {
    using namespace std::chrono;
    for (;;) {
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        pollfd p{m_fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, left > 0 ? static_cast<int>(left) + 1 : 0);
        if (ready < 0 && errno != EINTR) return std::nullopt;
        if (ready > 0) {
            if (p.revents & POLLERR)
                if (auto answer = readQueued(true)) return answer;
            if (p.revents & POLLIN)
                if (auto answer = readQueued(false)) return answer;
        }
        if (steady_clock::now() >= deadline) return std::nullopt;
    }
}

// Reads what is waiting (the error queue or the ordinary one) until our answer
// turns up or the queue is empty.
std::optional<IcmpAnswer> IcmpSocket::readQueued(bool errors) {
    // More reads than this in one go means a flood of others' traffic; the next
    // poll comes back to it, so the deadline is still kept.
    for (int reads = 0; reads < 256; ++reads) {
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
            if (errno == EAGAIN || errno == EWOULDBLOCK) return std::nullopt;
            // A pending socket error is reported once by an ordinary read; the
            // queued data is still there for the next one.
            continue;
        }
        const auto size = static_cast<std::size_t>(n);
        std::optional<IcmpAnswer> answer;
        if (m_family == AF_INET6)
            answer = m_kind == IcmpSocketKind::Raw ? matchRaw6Packet(packet, size, msg, from, key())
                     : errors                      ? matchPing6Error(packet, size, msg, key())
                              : matchPing6Reply(packet, size, msg, from, key());
        else if (m_kind == IcmpSocketKind::Raw)
            answer = matchRawPacket(packet, size, key());
        else if (errors)
            answer = matchPingError(packet, size, msg, key());
        else {
            sockaddr_in from4{};
            std::memcpy(&from4, &from, sizeof from4);
            answer = matchPingReply(packet, size, msg, from4.sin_addr.s_addr, key());
        }
        if (answer) return answer;
    }
    return std::nullopt;
}

EchoRequestKey IcmpSocket::key() const {
    return {m_kind, m_identifier, m_sequence, m_destination, m_destination6};
}

} // namespace win
