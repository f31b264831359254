#include "platform/boundname.h"

#include <cstring>

namespace win {

std::optional<BoundName> BoundName::of(const sockaddr* name, socklen_t length, bool v6only) {
    if (name == nullptr) return std::nullopt;
    BoundName bound;
    if (name->sa_family == AF_INET && length >= socklen_t(sizeof(sockaddr_in))) {
        sockaddr_in v4;
        std::memcpy(&v4, name, sizeof v4);
        bound.port = v4.sin_port;
        bound.v4 = true;
        bound.address = v4.sin_addr.s_addr;
        return bound;
    }
    if (name->sa_family != AF_INET6 || length < socklen_t(sizeof(sockaddr_in6)))
        return std::nullopt;
    sockaddr_in6 v6;
    std::memcpy(&v6, name, sizeof v6);
    bound.port = v6.sin6_port;
    if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
        // Only a dual-stack socket can have one; it then stands for the IPv4
        // address it carries.
        bound.v4 = !v6only;
        std::memcpy(&bound.address, v6.sin6_addr.s6_addr + 12, sizeof bound.address);
        return bound;
    }
    bound.v6 = true;
    bound.address6 = v6.sin6_addr;
    bound.v4 = !v6only && IN6_IS_ADDR_UNSPECIFIED(&v6.sin6_addr);
    return bound;
}

bool BoundName::overlaps(const BoundName& other) const {
    if (port != other.port) return false;
    if (v4 && other.v4 &&
        (address == other.address || address == INADDR_ANY || other.address == INADDR_ANY))
        return true;
    return v6 && other.v6 &&
           (IN6_ARE_ADDR_EQUAL(&address6, &other.address6) || IN6_IS_ADDR_UNSPECIFIED(&address6) ||
            IN6_IS_ADDR_UNSPECIFIED(&other.address6));
}

} // namespace win
