#pragma once
#include "platform/icmp.h"

namespace tools {

// One echo request as the ping and traceroute windows send it, through the
// system's ICMP service: the 32 bytes of EchoData, a reply record of 278 bytes,
// 200 ms to answer. The windows hold it through this class so that a path no test
// network can build (thirty routers and more) can be answered by a stand-in that
// overrides send().
class EchoService {
public:
    static constexpr char EchoData[] = "01234567890123456789012345678901";
    static constexpr win::WORD EchoSize = 32;
    static constexpr win::DWORD TimeoutMs = 200;

    virtual ~EchoService() = default;
    // The number of replies (0: none within the time-out); the outcome is in
    // `reply`. `options` may be null, or point into `reply` itself.
    virtual win::DWORD send(win::IPAddr destination, const win::IP_OPTION_INFORMATION* options,
                            win::EchoReply& reply);
    // The same over ICMPv6 (Icmp6SendEcho2), from any source address.
    virtual win::DWORD send6(const win::sockaddr_in6& destination,
                             const win::IP_OPTION_INFORMATION* options, win::Echo6Reply& reply);
};

} // namespace tools
