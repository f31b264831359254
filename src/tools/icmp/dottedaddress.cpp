#include "tools/icmp/dottedaddress.h"

#include "platform/text.h"

#include <cstring>

namespace tools {

std::uint32_t ParseDottedAddress(std::string_view text) {
    const std::string cut = text::cut(text, 19);
    std::uint32_t parts[4] = {};
    std::size_t count = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = cut.find('.', start);
        if (count == 4) return 0; // a fifth part: more than three dots
        const std::string_view part =
            std::string_view(cut).substr(start, dot == std::string::npos ? dot : dot - start);
        // At most 9 digits: the value always fits, and the sum is kept to 32 bits.
        parts[count++] = static_cast<std::uint32_t>(text::leadingDecimal(text::cut(part, 9)));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    if (count != 4) return 0;
    const std::uint32_t value =
        parts[0] + parts[1] * 256u + parts[2] * 65536u + parts[3] * 16777216u;
    // The value's low byte is the first byte on the wire, whatever this machine's
    // byte order.
    const std::uint8_t bytes[4] = {std::uint8_t(value), std::uint8_t(value >> 8),
                                   std::uint8_t(value >> 16), std::uint8_t(value >> 24)};
    std::uint32_t address = 0;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

std::string AddressText(std::uint32_t address) {
    std::uint8_t bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
           std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

} // namespace tools
