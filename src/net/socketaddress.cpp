#include "net/socketaddress.h"

#include <algorithm>
#include <cstring>

#include <arpa/inet.h>

namespace net {
namespace {

const win::sockaddr_in& asV4(const win::sockaddr_storage& s) {
    return *reinterpret_cast<const win::sockaddr_in*>(&s);
}
const win::sockaddr_in6& asV6(const win::sockaddr_storage& s) {
    return *reinterpret_cast<const win::sockaddr_in6*>(&s);
}

} // namespace

SocketAddress::SocketAddress(const win::sockaddr* address, int length) {
    if (address == nullptr || length <= 0) return;
    std::memcpy(&m_storage, address, std::min<std::size_t>(std::size_t(length), sizeof m_storage));
    if (!valid() || length < size()) m_storage = {};
}

SocketAddress SocketAddress::v4(std::uint32_t networkOrder, std::uint16_t port) {
    SocketAddress a;
    auto& v4 = reinterpret_cast<win::sockaddr_in&>(a.m_storage);
    v4.sin_family = AF_INET;
    v4.sin_addr.s_addr = networkOrder;
    v4.sin_port = htons(port);
    return a;
}

SocketAddress SocketAddress::any(int family, std::uint16_t port) {
    if (family != AF_INET6) return v4(0, port);
    SocketAddress a;
    auto& v6 = reinterpret_cast<win::sockaddr_in6&>(a.m_storage);
    v6.sin6_family = AF_INET6;
    v6.sin6_addr = in6addr_any;
    v6.sin6_port = htons(port);
    return a;
}

SocketAddress SocketAddress::fromText(std::string_view text, std::uint16_t port) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    const bool bracketed = text.size() >= 2 && text.front() == '[' && text.back() == ']';
    if (bracketed) text = text.substr(1, text.size() - 2);
    const std::string literal(text);
    SocketAddress a;
    in_addr v4{};
    if (!bracketed && ::inet_pton(AF_INET, literal.c_str(), &v4) == 1) return SocketAddress::v4(v4.s_addr, port);
    in6_addr v6{};
    if (::inet_pton(AF_INET6, literal.c_str(), &v6) != 1) return a;
    a = any(AF_INET6, port);
    reinterpret_cast<win::sockaddr_in6&>(a.m_storage).sin6_addr = v6;
    return a;
}

bool SocketAddress::isMappedV4() const {
    return family() == AF_INET6 && IN6_IS_ADDR_V4MAPPED(&asV6(m_storage).sin6_addr);
}

std::uint32_t SocketAddress::v4Address() const {
    if (family() == AF_INET) return asV4(m_storage).sin_addr.s_addr;
    if (!isMappedV4()) return 0;
    std::uint32_t v4;
    std::memcpy(&v4, asV6(m_storage).sin6_addr.s6_addr + 12, sizeof v4);
    return v4;
}

std::string SocketAddress::hostText() const {
    char host[INET6_ADDRSTRLEN] = {};
    if (family() == AF_INET || isMappedV4()) {
        const std::uint32_t v4 = v4Address();
        ::inet_ntop(AF_INET, &v4, host, sizeof host);
    } else if (family() == AF_INET6) {
        ::inet_ntop(AF_INET6, &asV6(m_storage).sin6_addr, host, sizeof host);
    }
    return host;
}

std::string SocketAddress::text() const {
    if (!valid()) return {};
    const std::string host = hostText();
    const std::string port = std::to_string(this->port());
    return isV6() ? "[" + host + "]:" + port : host + ":" + port;
}

std::uint16_t SocketAddress::port() const {
    if (family() == AF_INET) return ntohs(asV4(m_storage).sin_port);
    if (family() == AF_INET6) return ntohs(asV6(m_storage).sin6_port);
    return 0;
}

void SocketAddress::setPort(std::uint16_t port) {
    if (family() == AF_INET) reinterpret_cast<win::sockaddr_in&>(m_storage).sin_port = htons(port);
    if (family() == AF_INET6) reinterpret_cast<win::sockaddr_in6&>(m_storage).sin6_port = htons(port);
}

bool SocketAddress::isLoopback() const {
    if (family() == AF_INET || isMappedV4()) return (ntohl(v4Address()) >> 24) == 127;
    return family() == AF_INET6 && IN6_IS_ADDR_LOOPBACK(&asV6(m_storage).sin6_addr);
}

bool SocketAddress::sameHost(const SocketAddress& other) const {
    if (isV6() != other.isV6() || !valid() || !other.valid()) return false;
    if (!isV6()) return v4Address() == other.v4Address();
    return std::memcmp(&asV6(m_storage).sin6_addr, &asV6(other.m_storage).sin6_addr,
                       sizeof(in6_addr)) == 0;
}

int SocketAddress::size() const {
    if (family() == AF_INET) return int(sizeof(win::sockaddr_in));
    if (family() == AF_INET6) return int(sizeof(win::sockaddr_in6));
    return 0;
}

} // namespace net
