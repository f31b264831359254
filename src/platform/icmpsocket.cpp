#include "platform/icmpsocket.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>

#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace win {
namespace {

constexpr std::size_t kIcmpHeader = 8;
constexpr std::uint8_t kEchoReply = 0;
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

std::uint16_t readWord(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint16_t checksum(const std::uint8_t* data, std::size_t size) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        sum += readWord(data + i);
    if (size % 2) sum += static_cast<std::uint32_t>(data[size - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

void readCmsgs(const msghdr& msg, IcmpAnswer& answer) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr;
         c = CMSG_NXTHDR(const_cast<msghdr*>(&msg), c)) {
        if (c->cmsg_level != SOL_IP) continue;
        if (c->cmsg_type == IP_TTL && c->cmsg_len >= CMSG_LEN(sizeof(int))) {
            int ttl = 0;
            std::memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
            answer.ttl = static_cast<std::uint8_t>(ttl);
        } else if (c->cmsg_type == IP_TOS && c->cmsg_len >= CMSG_LEN(1)) {
            answer.tos = *CMSG_DATA(c);
        }
    }
}

} // namespace

IcmpSocket::IcmpSocket() {
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

IcmpSocket::~IcmpSocket() {
    if (m_fd >= 0) ::close(m_fd);
}

void IcmpSocket::setOptions(std::uint8_t ttl, std::uint8_t tos, bool dontFragment) {
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
    const std::uint16_t sum = checksum(packet.data(), packet.size());
    packet[2] = static_cast<std::uint8_t>(sum >> 8);
    packet[3] = static_cast<std::uint8_t>(sum);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
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
        sockaddr_in from{};
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
        if (m_kind == IcmpSocketKind::Raw)
            answer = matchRaw(packet, size);
        else if (errors)
            answer = matchPingError(packet, size, msg);
        else
            answer = matchPing(packet, size, msg, from.sin_addr.s_addr);
        if (answer) return answer;
    }
    return std::nullopt;
}

std::optional<IcmpAnswer> IcmpSocket::matchPing(const std::uint8_t* packet, std::size_t size,
                                                const msghdr& msg, IPAddr from) {
    // The kernel hands a ping socket only echo replies carrying its identifier.
    if (size < kIcmpHeader || packet[0] != kEchoReply || readWord(packet + 6) != m_sequence)
        return std::nullopt;
    IcmpAnswer answer;
    answer.from = from;
    answer.type = packet[0];
    answer.code = packet[1];
    answer.data.assign(packet + kIcmpHeader, packet + size);
    readCmsgs(msg, answer);
    return answer;
}

std::optional<IcmpAnswer> IcmpSocket::matchPingError(const std::uint8_t* packet, std::size_t size,
                                                     const msghdr& msg) {
    // The error queue returns the request the error is about, from its ICMP header.
    if (!isOurRequest(packet, size)) return std::nullopt;
    IcmpAnswer answer;
    bool icmp = false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr;
         c = CMSG_NXTHDR(const_cast<msghdr*>(&msg), c)) {
        if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR ||
            c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err)))
            continue;
        sock_extended_err err{};
        std::memcpy(&err, CMSG_DATA(c), sizeof err);
        // A redirect is advice, not an answer: the request goes on.
        if (err.ee_origin != SO_EE_ORIGIN_ICMP || err.ee_type == ICMP_REDIRECT) continue;
        icmp = true;
        answer.type = err.ee_type;
        answer.code = err.ee_code;
        if (c->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err) + sizeof(sockaddr_in))) {
            sockaddr_in offender{};
            std::memcpy(&offender, CMSG_DATA(c) + sizeof(sock_extended_err), sizeof offender);
            if (offender.sin_family == AF_INET) answer.from = offender.sin_addr.s_addr;
        }
    }
    if (!icmp) return std::nullopt;
    readCmsgs(msg, answer);
    return answer;
}

std::optional<IcmpAnswer> IcmpSocket::matchRaw(const std::uint8_t* packet, std::size_t size) {
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
        if (readWord(icmp + 4) != m_identifier || readWord(icmp + 6) != m_sequence ||
            checksum(icmp, icmpSize) != 0)
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
    if (quotedDestination != m_destination) return std::nullopt;
    if (!isOurRequest(inner + innerIhl, innerSize - innerIhl)) return std::nullopt;
    return answer;
}

bool IcmpSocket::isOurRequest(const std::uint8_t* icmp, std::size_t size) const {
    if (size < kIcmpHeader || icmp[0] != kEchoRequest || readWord(icmp + 6) != m_sequence)
        return false;
    // A ping socket's identifier is the kernel's, and only its own errors reach it.
    return m_kind == IcmpSocketKind::Ping || readWord(icmp + 4) == m_identifier;
}

} // namespace win
