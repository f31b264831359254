#pragma once
#include "net/socketaddress.h"

#include <cstdint>
#include <string_view>

namespace net {

// The IPv6 address a client tool reaches for `server` as typed: an IPv6 literal
// ("2001:db8::1", "[2001:db8::1]"), or a name that has IPv6 addresses and no IPv4
// one (its first IPv6 address). Anything else gives an empty address, and the tool
// goes on as it always has for IPv4: a name with an IPv4 address keeps to IPv4.
// A name is looked up here, blocking the calling thread.
SocketAddress ipv6Server(std::string_view server, std::uint16_t port);

} // namespace net
