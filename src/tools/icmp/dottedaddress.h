#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace tools {

// The user's dotted-decimal text as an IPv4 address in network byte order (the
// first part is the first byte on the wire); 0 when the text is not an address.
// The Windows program's rules are kept: only the first 19 characters count, each
// of the exactly four parts is read as its leading decimal number (blanks before
// it skipped, anything else ending it, nothing at all counting 0), and a part
// above 255 carries into the next byte. Four zero parts give 0, which every
// caller treats as invalid.
std::uint32_t ParseDottedAddress(std::string_view text);

// The four bytes of an address in network byte order, in decimal, joined by ".".
std::string AddressText(std::uint32_t address);

} // namespace tools
