#include "tools/icmp/echotarget.h"

#include "platform/icmp.h"

#include <cstring>

namespace tools {

net::SocketAddress Ipv6EchoTarget(const std::string& entry) {
    const net::SocketAddress literal = net::SocketAddress::fromText(entry, 0);
    if (literal.valid()) return literal.isV6() ? literal : net::SocketAddress{};
    if (entry.empty() || entry.find_first_not_of(' ') == std::string::npos) return {};
    win::addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM; // one entry per address
    win::addrinfo* list = nullptr;
    if (win::getaddrinfo(entry.c_str(), nullptr, &hints, &list) != 0) return {};
    net::SocketAddress first;
    bool hasV4 = false;
    for (const win::addrinfo* a = list; a != nullptr; a = a->ai_next) {
        if (a->ai_family == AF_INET) hasV4 = true;
        if (a->ai_family == AF_INET6 && !first.valid())
            first = net::SocketAddress(a->ai_addr, static_cast<int>(a->ai_addrlen));
    }
    win::freeaddrinfo(list);
    // A name with both kinds is reached over IPv4, as before there was IPv6.
    return hasV4 || !first.isV6() ? net::SocketAddress{} : first;
}

std::string Ipv6HostName(const net::SocketAddress& address) {
    char host[NI_MAXHOST] = {};
    if (::getnameinfo(address.data(), static_cast<socklen_t>(address.size()), host, sizeof host,
                      nullptr, 0, NI_NAMEREQD) != 0)
        return {};
    return host;
}

win::sockaddr_in6 Ipv6SocketAddress(const net::SocketAddress& address) {
    win::sockaddr_in6 out{};
    std::memcpy(&out, address.data(), sizeof out);
    out.sin6_port = 0;
    return out;
}

net::SocketAddress Ipv6ReplyAddress(const win::IPV6_ADDRESS_EX& address) {
    win::sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    std::memcpy(&a.sin6_addr, address.sin6_addr, sizeof a.sin6_addr);
    a.sin6_scope_id = address.sin6_scope_id;
    return net::SocketAddress(reinterpret_cast<const win::sockaddr*>(&a), sizeof a);
}

} // namespace tools
