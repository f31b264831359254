// Whatever arrives on an ICMP or ICMPv6 socket (anyone may send us ICMP), picking our answer
// reads only inside the packet and its control data, and an answer it gives is
// about our request.
#include "platform/icmpmatch.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    win::EchoRequestKey key;
    key.kind = in.ConsumeBool() ? win::IcmpSocketKind::Ping : win::IcmpSocketKind::Raw;
    key.identifier = in.ConsumeIntegral<std::uint16_t>();
    key.sequence = in.ConsumeIntegral<std::uint16_t>();
    key.destination = in.ConsumeIntegral<std::uint32_t>();
    const win::IPAddr from = in.ConsumeIntegral<std::uint32_t>();
    // The control data in a buffer of exactly its size, aligned as the kernel's.
    const std::size_t controlSize = in.ConsumeIntegralInRange<std::size_t>(0, 256);
    std::vector<std::uint8_t> controlBytes = in.ConsumeBytes<std::uint8_t>(controlSize);
    auto control = std::make_unique<cmsghdr[]>(controlBytes.size() / sizeof(cmsghdr) + 1);
    if (!controlBytes.empty()) std::memcpy(control.get(), controlBytes.data(), controlBytes.size());
    msghdr msg{};
    msg.msg_control = control.get();
    msg.msg_controllen = controlBytes.size();
    const std::vector<std::uint8_t> packetBytes = in.ConsumeRemainingBytes<std::uint8_t>();
    auto packet = std::make_unique<std::uint8_t[]>(packetBytes.size() + 1);
    if (!packetBytes.empty()) std::memcpy(packet.get(), packetBytes.data(), packetBytes.size());
    const std::size_t n = packetBytes.size();

    if (const auto a = win::matchRawPacket(packet.get(), n, key)) {
        if (a->data.size() > n) std::abort();
        if (a->type == 0 && win::icmpChecksum(packet.get() + (packet[0] & 0x0f) * 4,
                                              n - (packet[0] & 0x0f) * 4) != 0)
            std::abort();
    }
    if (const auto a = win::matchPingReply(packet.get(), n, msg, from, key))
        if (a->type != 0 || a->from != from || a->data.size() + 8 != n) std::abort();
    (void)win::matchPingError(packet.get(), n, msg, key);

    // The same bytes as ICMPv6, the key's destination the one an error would
    // quote, so that quoted requests can match.
    if (n >= 8 + 40) std::memcpy(&key.destination6, packet.get() + 8 + 24, 16);
    sockaddr_in6 from6{};
    from6.sin6_family = AF_INET6;
    std::memcpy(&from6.sin6_addr, &from, sizeof from);
    if (const auto a = win::matchRaw6Packet(packet.get(), n, msg, from6, key))
        if (a->data.size() > n || (a->type == 129 && a->data.size() + 8 != n)) std::abort();
    if (const auto a = win::matchPing6Reply(packet.get(), n, msg, from6, key))
        if (a->type != 129 || a->data.size() + 8 != n) std::abort();
    (void)win::matchPing6Error(packet.get(), n, msg, key);
    return 0;
}
