#pragma once
#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>

namespace tools {

// How a blocker's hits become desktop notifications without flooding the desktop:
// the first hit after a quiet spell is told at once ("TCP blocker: port 80 (Http)
// from 10.0.0.5"); hits that follow wait and are told together, at most one
// summary per interval since the last notice ("TCP blocker: 14 more hits on 3
// ports from 2 peers"). No hit is lost: every one is either told alone or counted
// in a summary. Plain code, driven by the caller's clock.
class HitNotices {
public:
    using Clock = std::chrono::steady_clock;
    // Both the least time between two notices and the quiet spell after which a
    // hit is told at once.
    static constexpr Clock::duration Interval = std::chrono::seconds(10);
    // Distinct peers counted in one summary: a flood from forged addresses must not
    // grow memory without bound.
    static constexpr std::size_t PeerCeiling = 10000;

    // `source` leads every notice: the window's description, "TCP blocker".
    explicit HitNotices(std::string source);

    // A hit on `port` (its record's description) from `peer` at `now`: the notice
    // to show now, or nothing while it waits for a summary.
    std::optional<std::string> hit(std::uint16_t port, const std::string& description,
                                   const std::string& peer, Clock::time_point now);
    // When the waiting hits make a summary due; nothing when none waits.
    std::optional<Clock::time_point> due() const;
    // The summary of the waiting hits, if it is due at `now`.
    std::optional<std::string> summary(Clock::time_point now);

private:
    std::string m_source;
    std::optional<Clock::time_point> m_lastHit;
    std::optional<Clock::time_point> m_lastNotice;
    std::uint64_t m_waiting = 0;
    std::set<std::uint16_t> m_ports;
    std::set<std::string> m_peers;
};

} // namespace tools
