#pragma once
#include "net/socketaddress.h"
#include "platform/icmp.h"

#include <string>

namespace tools {

// The IPv6 address an entry of the echo tools (ping, traceroute, path monitor)
// names: an IPv6 literal, or a name whose addresses are all IPv6. A dotted
// address, a name that has an IPv4 address and a name not found give an empty
// address: the IPv4 path takes those as it always did.
net::SocketAddress Ipv6EchoTarget(const std::string& entry);

// The name an IPv6 address has in the system's resolver (a hosts file or
// ip6.arpa); empty when it has none. Blocks for as long as the resolver takes.
std::string Ipv6HostName(const net::SocketAddress& address);

// The address as a sockaddr_in6 for the ICMPv6 echo service.
win::sockaddr_in6 Ipv6SocketAddress(const net::SocketAddress& address);
// Who answered, from the reply record the service filled.
net::SocketAddress Ipv6ReplyAddress(const win::IPV6_ADDRESS_EX& address);

} // namespace tools
