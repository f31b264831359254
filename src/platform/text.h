#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The fixed-width text rules every window follows: fields are cut to their width
// and blank-padded; trailing blanks go whenever a value is compared, stored, put in
// a path, a caption or a log line. Only the blank (0x20) counts as a blank.
namespace text {

// The first `width` bytes of `s`.
std::string cut(std::string_view s, std::size_t width);
// `s` cut to `width` and padded with blanks to exactly `width`.
std::string pad(std::string_view s, std::size_t width);
// `s` without trailing blanks.
std::string trimRight(std::string_view s);
// `s` without leading blanks.
std::string trimLeft(std::string_view s);
// The value of the decimal digits at the start of `s` after leading blanks;
// 0 when there are none. Saturates instead of overflowing.
std::uint64_t leadingDecimal(std::string_view s);
// Like leadingDecimal, also accepting one leading '-' (Windows' atoi on settings).
long long leadingInteger(std::string_view s);
// `value` with `decimals` digits after the point, as "%.Nf" writes it, without
// going through printf's locale and stream machinery.
std::string fixed(double value, int decimals);

} // namespace text
