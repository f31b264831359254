#include "tools/blockers/hitnotices.h"

#include "platform/text.h"

namespace tools {
namespace {

std::string counted(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

HitNotices::HitNotices(std::string source) : m_source(std::move(source)) {}

std::optional<std::string> HitNotices::hit(std::uint16_t port, const std::string& description,
                                           const std::string& peer, Clock::time_point now) {
    const bool quiet = !m_lastHit || now - *m_lastHit >= Interval;
    m_lastHit = now;
    if (quiet && m_waiting == 0) {
        m_lastNotice = now;
        const std::string what = text::trimRight(description);
        return m_source + ": port " + std::to_string(port) +
               (what.empty() ? "" : " (" + what + ")") + " from " + peer;
    }
    ++m_waiting;
    m_ports.insert(port);
    if (m_peers.size() < PeerCeiling) m_peers.insert(peer);
    return std::nullopt;
}

std::optional<HitNotices::Clock::time_point> HitNotices::due() const {
    if (m_waiting == 0) return std::nullopt;
    return m_lastNotice ? *m_lastNotice + Interval : Clock::time_point{};
}

std::optional<std::string> HitNotices::summary(Clock::time_point now) {
    const auto when = due();
    if (!when || now < *when) return std::nullopt;
    const std::string peers = m_peers.size() < PeerCeiling
                                  ? counted(m_peers.size(), "peer", "peers")
                                  : "at least " + std::to_string(PeerCeiling) + " peers";
    std::string text = m_source + ": " + counted(m_waiting, "more hit", "more hits") + " on " +
                       counted(m_ports.size(), "port", "ports") + " from " + peers;
    m_lastNotice = now;
    m_waiting = 0;
    m_ports.clear();
    m_peers.clear();
    return text;
}

} // namespace tools
