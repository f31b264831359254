#include "tools/pathmon/pathprobe.h"

#include "tools/icmp/echoservice.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace tools {
namespace {

constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kUnreachable = 3;
constexpr std::uint8_t kEchoReply6 = 129;
constexpr std::uint8_t kUnreachable6 = 1;

in6_addr address6(const net::SocketAddress& a) {
    win::sockaddr_in6 s{};
    std::memcpy(&s, a.data(), sizeof s);
    return s.sin6_addr;
}

double wallSeconds() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

} // namespace

PathProbe::PathProbe(std::uint32_t target)
    : m_target(target), m_sequence(static_cast<std::uint16_t>(std::random_device{}())) {}

PathProbe::PathProbe(const net::SocketAddress& target6)
    : m_socket(AF_INET6), m_target(0), m_target6(target6),
      m_sequence(static_cast<std::uint16_t>(std::random_device{}())) {}

int PathProbe::sendRound(int hops, Clock::time_point now) {
    for (int ttl = 1; ttl <= hops; ++ttl) {
        const std::uint16_t sequence = m_sequence++;
        // Taken for each request: its answer's time of arrival is measured
        // against it.
        const double wall = wallSeconds();
        const auto hops = static_cast<std::uint8_t>(ttl);
        const int error = m_target6.isV6()
                              ? m_socket.send6(address6(m_target6), hops, sequence,
                                               EchoService::EchoData, EchoService::EchoSize)
                              : m_socket.send(m_target, hops, sequence, EchoService::EchoData,
                                              EchoService::EchoSize);
        if (error != 0) return error;
        m_pending[sequence] = {ttl, now, wall};
    }
    return 0;
}

std::vector<PathProbe::Outcome> PathProbe::collect(Clock::time_point now) {
    std::vector<Outcome> outcomes;
    const bool v6 = m_target6.isV6();
    const auto answers =
        v6 ? m_socket.readAnswers6(address6(m_target6)) : m_socket.readAnswers(m_target);
    for (const auto& a : answers) {
        auto it = m_pending.find(a.sequence);
        // An answer to a request already counted lost (or a second answer) is late news.
        if (it == m_pending.end()) continue;
        Outcome o;
        o.ttl = it->second.ttl;
        o.sentAt = it->second.sentAt;
        o.rttMs = a.receivedAt > 0
                      ? std::max(0.0, (a.receivedAt - it->second.sentAt) * 1000)
                      : std::chrono::duration<double, std::milli>(now - it->second.sent).count();
        o.from = a.answer.from;
        if (v6)
            o.from6 = net::SocketAddress(reinterpret_cast<const win::sockaddr*>(&a.answer.from6),
                                         sizeof a.answer.from6);
        o.reachedTarget = a.answer.type == (v6 ? kEchoReply6 : kEchoReply);
        o.endsPath = a.answer.type == (v6 ? kUnreachable6 : kUnreachable);
        outcomes.push_back(o);
        m_pending.erase(it);
    }
    return outcomes;
}

std::vector<PathProbe::Outcome> PathProbe::expire(Clock::time_point now, Clock::duration timeout) {
    std::vector<Outcome> outcomes;
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (now - it->second.sent < timeout) {
            ++it;
            continue;
        }
        Outcome o;
        o.ttl = it->second.ttl;
        o.lost = true;
        o.sentAt = it->second.sentAt;
        outcomes.push_back(o);
        it = m_pending.erase(it);
    }
    // In the order they were sent, so each hop's samples stay in time order.
    std::sort(outcomes.begin(), outcomes.end(),
              [](const Outcome& a, const Outcome& b) { return a.sentAt < b.sentAt; });
    return outcomes;
}

} // namespace tools
