// The TCP blocker reads whatever a raw socket hands it, from any sender: whatever the
// bytes, the check must neither read past them nor take a non-SYN for a SYN.
#include "platform/tcpsyn.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact copy, so that the sanitizer sees any read beyond the packet.
    const std::vector<std::uint8_t> packet(data, data + size);
    // The same bytes as an IPv6 raw socket would hand them over: the TCP header first.
    if (const auto syn6 = win::parseIncomingSyn6(packet.data(), packet.size(), {})) {
        if ((packet[13] & 0x12) != 0x02 || !syn6->v6) std::abort();
        if (syn6->localPort != ((packet[2] << 8) | packet[3])) std::abort();
    }
    const auto syn = win::parseIncomingSyn(packet.data(), packet.size());
    if (!syn) return 0;
    const std::size_t ihl = static_cast<std::size_t>(packet[0] & 0x0f) * 4;
    const std::uint8_t flags = packet[ihl + 13];
    if ((packet[0] >> 4) != 4 || packet[9] != 6 || (flags & 0x12) != 0x02) std::abort();
    if (syn->localPort != ((packet[ihl + 2] << 8) | packet[ihl + 3])) std::abort();
    return 0;
}
