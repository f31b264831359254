#include "net/ownaddresses.h"

#include <algorithm>
#include <cstring>

#include <ifaddrs.h>
#include <netinet/in.h>

namespace net {

bool OwnAddresses::containsV6(const SocketAddress& peer, Clock::time_point now) {
    if (!peer.isV6()) return false;
    if (peer.isLoopback()) return true;
    if (!m_read || now - m_readAt >= std::chrono::seconds(1)) {
        read();
        m_readAt = now;
        m_read = true;
    }
    std::array<std::uint8_t, 16> bytes;
    std::memcpy(bytes.data(), &reinterpret_cast<const sockaddr_in6*>(peer.data())->sin6_addr, 16);
    return std::find(m_addresses.begin(), m_addresses.end(), bytes) != m_addresses.end();
}

void OwnAddresses::read() {
    m_addresses.clear();
    ifaddrs* list = nullptr;
    // Without the list, only ::1 is known to be this machine.
    if (::getifaddrs(&list) != 0) return;
    for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET6) continue;
        std::array<std::uint8_t, 16> bytes;
        std::memcpy(bytes.data(), &reinterpret_cast<const sockaddr_in6*>(i->ifa_addr)->sin6_addr,
                    16);
        m_addresses.push_back(bytes);
    }
    ::freeifaddrs(list);
}

} // namespace net
