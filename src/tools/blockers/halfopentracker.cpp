#include "tools/blockers/halfopentracker.h"

#include <algorithm>
#include <cstring>

namespace tools {

HalfOpenTracker::HalfOpenTracker(Clock::duration grace, std::size_t capacity)
    : m_grace(grace), m_capacity(std::max<std::size_t>(capacity, 1)) {}

namespace {

// An IPv4 peer is kept as its IPv4-mapped IPv6 address (::ffff:a.b.c.d), which no
// IPv6 peer has: the blockers' IPv6 sockets are IPv6-only.
constexpr std::uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

} // namespace

std::size_t HalfOpenTracker::KeyHash::operator()(const Key& k) const {
    std::uint64_t h = k.low * 0x9e3779b97f4a7c15ull;
    h ^= (k.high + 0x632be59bd9b4e019ull) * 0xc2b2ae3d27d4eb4full;
    h ^= std::uint64_t(k.ports) * 0x165667b19e3779f9ull;
    return std::size_t(h ^ (h >> 29));
}

HalfOpenTracker::Key HalfOpenTracker::keyOf(const Attempt& a) {
    std::array<std::uint8_t, 16> bytes = a.peer6;
    if (!a.v6) {
        std::memcpy(bytes.data(), kMappedPrefix, 12);
        std::memcpy(bytes.data() + 12, &a.peer, 4);
    }
    Key k;
    std::memcpy(&k.high, bytes.data(), 8);
    std::memcpy(&k.low, bytes.data() + 8, 8);
    k.ports = (std::uint32_t(a.peerPort) << 16) | a.localPort;
    return k;
}

HalfOpenTracker::Attempt HalfOpenTracker::attemptOf(const Key& key) {
    std::array<std::uint8_t, 16> bytes;
    std::memcpy(bytes.data(), &key.high, 8);
    std::memcpy(bytes.data() + 8, &key.low, 8);
    Attempt a;
    a.peerPort = std::uint16_t(key.ports >> 16);
    a.localPort = std::uint16_t(key.ports);
    if (std::memcmp(bytes.data(), kMappedPrefix, 12) == 0) {
        std::memcpy(&a.peer, bytes.data() + 12, 4);
    } else {
        a.v6 = true;
        a.peer6 = bytes;
    }
    return a;
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
    const Key key = keyOf(attempt);
    if (m_seen.count(key) != 0) return std::nullopt;
    std::optional<Attempt> givenUp;
    if (m_seen.size() >= m_capacity) {
        // Held attempts have had their second already: they are the oldest.
        Key oldest;
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
