#pragma once
// TCP segments of a test's own making, sent through a raw socket with the test's
// own IP header: a scanner's SYN and RST without a scanner, from any sender
// address. Needs raw socket rights; sends only where the caller's namespace routes.
#include <arpa/inet.h>
#include <cstdint>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace testing_support {

constexpr std::uint8_t kFin = 0x01, kSyn = 0x02, kRst = 0x04, kAck = 0x10;

struct Segment {
    const char* from = "127.0.0.1";
    std::uint16_t fromPort = 40000;
    const char* to = "127.0.0.1";
    std::uint16_t toPort = 0;
    std::uint8_t flags = kSyn;
    std::uint32_t seq = 1000;
    std::uint8_t ipOptionWords = 0; // 4-byte words of no-op options in the IP header
    std::uint16_t fragment = 0;     // the IP header's flags and fragment offset field
};

inline std::uint16_t internetChecksum(const std::uint8_t* data, std::size_t size,
                                      std::uint32_t sum = 0) {
    for (std::size_t i = 0; i + 1 < size; i += 2)
        sum += static_cast<std::uint32_t>((data[i] << 8) | data[i + 1]);
    if (size % 2) sum += static_cast<std::uint32_t>(data[size - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

inline std::vector<std::uint8_t> buildSegment(const Segment& s) {
    const std::size_t ihl = 20 + 4u * s.ipOptionWords;
    std::vector<std::uint8_t> p(ihl + 20, 0);
    p[0] = static_cast<std::uint8_t>(0x40 | (ihl / 4));
    p[2] = static_cast<std::uint8_t>(p.size() >> 8);
    p[3] = static_cast<std::uint8_t>(p.size());
    p[6] = static_cast<std::uint8_t>(s.fragment >> 8);
    p[7] = static_cast<std::uint8_t>(s.fragment);
    p[8] = 64;
    p[9] = IPPROTO_TCP;
    ::inet_pton(AF_INET, s.from, p.data() + 12);
    ::inet_pton(AF_INET, s.to, p.data() + 16);
    for (std::size_t i = 20; i < ihl; ++i)
        p[i] = 1; // no-op
    std::uint8_t* tcp = p.data() + ihl;
    tcp[0] = static_cast<std::uint8_t>(s.fromPort >> 8);
    tcp[1] = static_cast<std::uint8_t>(s.fromPort);
    tcp[2] = static_cast<std::uint8_t>(s.toPort >> 8);
    tcp[3] = static_cast<std::uint8_t>(s.toPort);
    for (int i = 0; i < 4; ++i)
        tcp[4 + i] = static_cast<std::uint8_t>(s.seq >> (24 - 8 * i));
    tcp[12] = 5 << 4;
    tcp[13] = s.flags;
    tcp[14] = 0xff; // window
    tcp[15] = 0xff;
    // The checksum covers a pseudo header of the addresses, protocol and length.
    std::uint8_t pseudo[12 + 20];
    std::memcpy(pseudo, p.data() + 12, 8);
    pseudo[8] = 0;
    pseudo[9] = IPPROTO_TCP;
    pseudo[10] = 0;
    pseudo[11] = 20;
    std::memcpy(pseudo + 12, tcp, 20);
    const std::uint16_t sum = internetChecksum(pseudo, sizeof pseudo);
    tcp[16] = static_cast<std::uint8_t>(sum >> 8);
    tcp[17] = static_cast<std::uint8_t>(sum);
    return p;
}

class RawSender {
public:
    RawSender() : m_fd(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW)) {}
    ~RawSender() {
        if (m_fd >= 0) ::close(m_fd);
    }
    RawSender(const RawSender&) = delete;
    RawSender& operator=(const RawSender&) = delete;

    bool ok() const { return m_fd >= 0; }
    bool send(const Segment& s) const {
        const std::vector<std::uint8_t> packet = buildSegment(s);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        ::inet_pton(AF_INET, s.to, &to.sin_addr);
        return ::sendto(m_fd, packet.data(), packet.size(), 0,
                        reinterpret_cast<const sockaddr*>(&to),
                        sizeof to) == static_cast<ssize_t>(packet.size());
    }

private:
    int m_fd = -1;
};

} // namespace testing_support
