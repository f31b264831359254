#pragma once
#include "net/socketaddress.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

namespace net {

// The IPv6 addresses of this host's interfaces, for "ignore local ip": a peer that
// is this machine may come from any of them. Read again when a second has passed
// since the last reading, so an address added or taken away counts soon, while a
// burst of hits costs one reading.
class OwnAddresses {
public:
    using Clock = std::chrono::steady_clock;

    // True for ::1 and for an address of one of this host's interfaces.
    bool containsV6(const SocketAddress& peer, Clock::time_point now = Clock::now());

private:
    void read();

    std::vector<std::array<std::uint8_t, 16>> m_addresses;
    Clock::time_point m_readAt{};
    bool m_read = false;
};

} // namespace net
