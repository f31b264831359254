#include "tools/pathmon/pathprobe.h"

#include "tools/icmp/echoservice.h"

#include <algorithm>
#include <random>

namespace tools {
namespace {

constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kUnreachable = 3;

double wallSeconds() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

} // namespace

PathProbe::PathProbe(std::uint32_t target)
    : m_target(target), m_sequence(static_cast<std::uint16_t>(std::random_device{}())) {}

int PathProbe::sendRound(int hops, Clock::time_point now) {
    for (int ttl = 1; ttl <= hops; ++ttl) {
        const std::uint16_t sequence = m_sequence++;
        // Taken for each request: its answer's time of arrival is measured
        // against it.
        const double wall = wallSeconds();
        const int error = m_socket.send(m_target, static_cast<std::uint8_t>(ttl), sequence,
                                        EchoService::EchoData, EchoService::EchoSize);
        if (error != 0) return error;
        m_pending[sequence] = {ttl, now, wall};
    }
    return 0;
}

std::vector<PathProbe::Outcome> PathProbe::collect(Clock::time_point now) {
    std::vector<Outcome> outcomes;
    for (const auto& a : m_socket.readAnswers(m_target)) {
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
        o.reachedTarget = a.answer.type == kEchoReply;
        o.endsPath = a.answer.type == kUnreachable;
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
