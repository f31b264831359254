#include "tools/blockers/halfopentracker.h"

#include <algorithm>

namespace tools {

HalfOpenTracker::HalfOpenTracker(Clock::duration grace, std::size_t capacity)
    : m_grace(grace), m_capacity(std::max<std::size_t>(capacity, 1)) {}

std::uint64_t HalfOpenTracker::keyOf(const Attempt& a) {
    return (std::uint64_t(a.peer) << 32) | (std::uint64_t(a.peerPort) << 16) | a.localPort;
}

HalfOpenTracker::Attempt HalfOpenTracker::attemptOf(std::uint64_t key) {
    return {std::uint32_t(key >> 32), std::uint16_t(key >> 16), std::uint16_t(key)};
}

bool HalfOpenTracker::live(const Entry& e) const {
    // An attempt accepted and then tried again has a newer moment than this entry.
    const auto it = m_seen.find(e.key);
    return it != m_seen.end() && it->second == e.seen;
}

void HalfOpenTracker::skipSettled() {
    while (!m_order.empty() && !live(m_order.front()))
        m_order.pop_front();
}

void HalfOpenTracker::compact() {
    std::deque<Entry> kept;
    for (const Entry& e : m_order)
        if (live(e)) kept.push_back(e);
    m_order.swap(kept);
}

std::optional<HalfOpenTracker::Attempt> HalfOpenTracker::syn(const Attempt& attempt,
                                                             Clock::time_point now) {
    const std::uint64_t key = keyOf(attempt);
    if (m_seen.count(key) != 0) return std::nullopt;
    std::optional<Attempt> givenUp;
    if (m_seen.size() >= m_capacity) {
        // Held attempts have had their second already: they are the oldest.
        std::uint64_t oldest = 0;
        const auto held =
            std::find_if(m_held.begin(), m_held.end(), [this](const Entry& e) { return live(e); });
        if (held != m_held.end()) {
            oldest = held->key;
            m_held.erase(m_held.begin(), held + 1);
        } else {
            skipSettled();
            oldest = m_order.front().key;
            m_order.pop_front();
        }
        m_seen.erase(oldest);
        givenUp = attemptOf(oldest);
    }
    m_seen.emplace(key, now);
    m_order.push_back({key, now});
    // Accepted attempts stay in the order until they reach its front; a long-lived
    // entry ahead of them must not let them pile up without bound.
    if (m_order.size() > 4 * m_capacity) compact();
    return givenUp;
}

void HalfOpenTracker::accepted(const Attempt& attempt) {
    m_seen.erase(keyOf(attempt));
    if (m_seen.empty()) {
        m_order.clear();
        m_held.clear();
    }
}

std::vector<HalfOpenTracker::Attempt>
HalfOpenTracker::expire(Clock::time_point now, const std::function<bool(std::uint16_t)>& waiting) {
    std::vector<Attempt> probes;
    std::unordered_map<std::uint16_t, bool> asked;
    auto held = [&](const Entry& e) {
        const auto [it, first] = asked.try_emplace(attemptOf(e.key).localPort, false);
        if (first) it->second = waiting(it->first);
        return it->second;
    };
    auto settle = [&](const Entry& e) {
        m_seen.erase(e.key);
        probes.push_back(attemptOf(e.key));
    };
    // Held attempts first: they are older than anything still in the order.
    std::vector<Entry> stillHeld;
    for (const Entry& e : m_held) {
        if (!live(e)) continue;
        if (held(e))
            stillHeld.push_back(e);
        else
            settle(e);
    }
    m_held.swap(stillHeld);
    while (!m_order.empty()) {
        const Entry e = m_order.front();
        if (live(e) && now - e.seen < m_grace) break;
        m_order.pop_front();
        if (!live(e)) continue;
        if (held(e))
            m_held.push_back(e);
        else
            settle(e);
    }
    return probes;
}

void HalfOpenTracker::clear() {
    m_seen.clear();
    m_order.clear();
    m_held.clear();
}

} // namespace tools
