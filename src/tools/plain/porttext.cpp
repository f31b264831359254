#include "tools/plain/porttext.h"

#include "platform/text.h"

namespace tools {

std::optional<std::uint16_t> portNumber(std::string_view text) {
    const std::uint64_t value = text::leadingDecimal(text);
    if (value > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

} // namespace tools
