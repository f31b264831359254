#pragma once
#include <cstdint>
#include <string>

namespace tools {

// The reply record's status as the windows show it: the code in decimal, three
// blanks and the status name in brackets, e.g. "0   [ ip success ]". The callers
// keep at most its first 39 characters.
std::string IcmpStatusText(std::uint32_t code);

} // namespace tools
