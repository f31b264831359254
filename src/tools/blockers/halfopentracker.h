#pragma once
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

namespace tools {

// Tells half-open probes from connections. A SYN to a trapped port is pending until
// the blocker accepts its connection; one still pending when its grace (a second)
// has run out was never completed (the scanner reset it, or left it unanswered)
// and is a probe. Each attempt is a probe at most once. The table is bounded: a
// flood of SYNs from forged senders may fill it, and then the oldest attempt is
// given up as a probe at once rather than a new one being lost.
class HalfOpenTracker {
public:
    using Clock = std::chrono::steady_clock;

    // One connection attempt: the peer's address (network order) and port, and our
    // port it asked for. An IPv6 peer has `v6` set and its address in `peer6`.
    struct Attempt {
        std::uint32_t peer = 0;
        std::uint16_t peerPort = 0;
        std::uint16_t localPort = 0;
        bool v6 = false;
        std::array<std::uint8_t, 16> peer6{};
        bool operator==(const Attempt&) const = default;
    };

    static constexpr std::size_t DefaultCapacity = 16384;

    explicit HalfOpenTracker(Clock::duration grace = std::chrono::seconds(1),
                             std::size_t capacity = DefaultCapacity);

    // A SYN seen at `now`. A repeated SYN of an attempt still pending changes
    // nothing. Returns the attempt given up when the table was full.
    std::optional<Attempt> syn(const Attempt& attempt, Clock::time_point now);
    // The blocker accepted this connection: it was no probe.
    void accepted(const Attempt& attempt);
    // The probes found by `now`: pending attempts whose grace has run out, oldest
    // first. An attempt to a port where a connection is waiting to be accepted
    // (`waiting`, asked once per port) stays pending: it may be that connection,
    // which the blocker has not reached yet.
    std::vector<Attempt> expire(Clock::time_point now,
                                const std::function<bool(std::uint16_t)>& waiting);
    std::size_t pending() const { return m_seen.size(); }
    void clear();

private:
    // The attempt packed for the tables: an IPv4 peer as its IPv4-mapped IPv6
    // address, so that both families share one table and one order.
    struct Key {
        std::uint64_t high = 0, low = 0;
        std::uint32_t ports = 0;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& k) const;
    };
    struct Entry {
        Key key;
        Clock::time_point seen;
    };

    static Key keyOf(const Attempt& a);
    static Attempt attemptOf(const Key& key);
    bool live(const Entry& e) const;
    // Drops the entries that were accepted meanwhile from the front of the order.
    void skipSettled();
    void compact();

    Clock::duration m_grace;
    std::size_t m_capacity;
    // Every pending attempt with the moment its SYN was seen.
    std::unordered_map<Key, Clock::time_point, KeyHash> m_seen;
    // The same attempts oldest first, and ones accepted since (skipped when reached).
    std::deque<Entry> m_order;
    // Expired attempts held back while a connection to their port waits.
    std::vector<Entry> m_held;
};

} // namespace tools
