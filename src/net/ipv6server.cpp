#include "net/ipv6server.h"

#include "platform/ws2tcpip.h"

#include <string>

namespace net {

SocketAddress ipv6Server(std::string_view server, std::uint16_t port) {
    const SocketAddress literal = SocketAddress::fromText(server, port);
    if (literal.valid()) return literal.family() == AF_INET6 ? literal : SocketAddress();
    std::string name(server);
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    if (name.empty()) return {};
    win::addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    win::addrinfo* list = nullptr;
    if (win::getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0) return {};
    SocketAddress first;
    bool hasV4 = false;
    for (const win::addrinfo* a = list; a != nullptr; a = a->ai_next) {
        if (a->ai_family == AF_INET) hasV4 = true;
        if (a->ai_family == AF_INET6 && !first.valid())
            first = SocketAddress(a->ai_addr, int(a->ai_addrlen));
    }
    win::freeaddrinfo(list);
    if (hasV4) return {};
    first.setPort(port);
    return first;
}

} // namespace net
