#pragma once
#include "net/socketaddress.h"
#include "platform/icmpprobesocket.h"

#include <chrono>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace tools {

// The path monitor's probe engine: a round is one echo request per time-to-live,
// all in flight at once on one non-blocking ICMP socket; answers are matched to
// their request by sequence number as they come, and a request unanswered within
// the time-out is lost. It never waits: the window reads it when its socket is
// readable and expires it on its timer.
class PathProbe {
public:
    using Clock = std::chrono::steady_clock;

    // What one request came to.
    struct Outcome {
        int ttl = 0;
        bool lost = false;
        double rttMs = 0;
        std::uint32_t from = 0;     // network byte order
        net::SocketAddress from6;   // who answered a probe over IPv6
        bool reachedTarget = false; // the destination's own echo reply
        bool endsPath = false;      // unreachable: nothing lies past this hop
        double sentAt = 0;          // seconds since the epoch
    };

    explicit PathProbe(std::uint32_t target);
    // Probes over ICMPv6, the hop limit for the time-to-live.
    explicit PathProbe(const net::SocketAddress& target6);

    bool isOpen() const { return m_socket.isOpen(); }
    win::IcmpSocketKind kind() const { return m_socket.kind(); }
    int fd() const { return m_socket.fd(); }
    std::size_t inFlight() const { return m_pending.size(); }

    // One request for each time-to-live from 1 to `hops`; 0, or the errno of the
    // first send that failed (its request is not counted).
    int sendRound(int hops, Clock::time_point now);
    // The answers waiting now.
    std::vector<Outcome> collect(Clock::time_point now);
    // The requests older than `timeout`, as lost.
    std::vector<Outcome> expire(Clock::time_point now, Clock::duration timeout);

private:
    struct Pending {
        int ttl = 0;
        Clock::time_point sent;
        double sentAt = 0;
    };

    win::IcmpProbeSocket m_socket;
    std::uint32_t m_target;
    net::SocketAddress m_target6; // an IPv6 run's target, else empty
    std::uint16_t m_sequence;
    std::unordered_map<std::uint16_t, Pending> m_pending;
};

} // namespace tools
