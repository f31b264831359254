#pragma once
#include "platform/icmp.h"
#include "platform/icmpmatch.h"

#include <cstdint>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>

namespace win {

// One ICMP socket for many echo requests in flight at once, each with its own
// time-to-live and sequence number, read without ever blocking: the path monitor's
// probes. A ping socket where the system lets this process open one, a raw socket
// otherwise, as IcmpSendEcho chooses. Answers are matched by identifier and
// sequence through the same checks IcmpSendEcho makes.
class IcmpProbeSocket {
public:
    // An answer to one of our requests: which one, and what came.
    struct Answer {
        std::uint16_t sequence = 0;
        IcmpAnswer answer;
        double receivedAt = 0; // the kernel's time of arrival, seconds since the epoch; 0: none
    };

    // AF_INET for ICMP, AF_INET6 for ICMPv6.
    explicit IcmpProbeSocket(int family = AF_INET);
    ~IcmpProbeSocket();
    IcmpProbeSocket(const IcmpProbeSocket&) = delete;
    IcmpProbeSocket& operator=(const IcmpProbeSocket&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    IcmpSocketKind kind() const { return m_kind; }
    // Readable (or with errors queued) when answers wait.
    int fd() const { return m_fd; }

    // Sends an echo request with `data`; 0, or the errno of the failed send.
    int send(IPAddr destination, std::uint8_t ttl, std::uint16_t sequence, const void* data,
             std::size_t size);
    // Everything waiting that answers one of our requests to `destination`; others'
    // traffic is read and dropped. Never blocks.
    std::vector<Answer> readAnswers(IPAddr destination);
    // The same for an ICMPv6 socket; the time-to-live is the hop limit.
    int send6(const in6_addr& destination, std::uint8_t ttl, std::uint16_t sequence,
              const void* data, std::size_t size);
    std::vector<Answer> readAnswers6(const in6_addr& destination);

private:
    void openV6();
    int sendPacket(std::uint8_t type, std::uint16_t sequence, const void* data, std::size_t size,
                   const sockaddr* to, socklen_t toSize);
    void readQueue(bool errors, const EchoRequestKey& destination, std::vector<Answer>& out);

    int m_fd = -1;
    int m_family = AF_INET;
    IcmpSocketKind m_kind = IcmpSocketKind::None;
    std::uint16_t m_identifier = 0; // raw sockets; a ping socket's is the kernel's
};

} // namespace win
