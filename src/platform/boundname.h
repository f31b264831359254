#pragma once
#include <cstdint>
#include <optional>

#include <netinet/in.h>
#include <sys/socket.h>

namespace win {

// The traffic a bound socket takes: the port, and for each family whether it
// takes that family and on which address. An IPv4 socket takes IPv4 alone; an
// IPv6 one takes IPv6, and IPv4 too unless IPV6_V6ONLY is set: all of it when
// bound to ::, only that address's when bound to an IPv4-mapped one.
struct BoundName {
    std::uint16_t port = 0; // network order
    bool v4 = false;
    bool v6 = false;
    std::uint32_t address = 0; // network order; INADDR_ANY for every address
    in6_addr address6{};       // :: for every address

    // The name of a bind() or getsockname(); nothing for a family other than
    // IPv4 and IPv6 or a length too short for the family.
    static std::optional<BoundName> of(const sockaddr* name, socklen_t length, bool v6only);
    // Same port, and some family that both take on addresses that meet (the
    // same one, or either being every address).
    bool overlaps(const BoundName& other) const;
};

} // namespace win
