#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace tools {

// The port a text names: the decimal value of its leading digits after blanks
// (0 when there are none). A value that does not fit 16 bits is no port at all:
// kept in a 16-bit variable it would silently become another port.
std::optional<std::uint16_t> portNumber(std::string_view text);

} // namespace tools
