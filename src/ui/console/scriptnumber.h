#pragma once
#include <optional>
#include <string_view>

// The numbers a script gives (control numbers, button and menu entries, seconds)
// are read without exceptions and kept within the ranges the commands can use, so
// no script line can abort the program or overflow a conversion.
namespace ui::scriptnumber {

// A whole decimal number of digits only, within [low, high]; nothing otherwise.
std::optional<long long> whole(std::string_view word, long long low, long long high);

// A decimal number of seconds (a fraction and an exponent allowed) within
// [0, high]; nothing for any other text, for infinities and for NaN.
std::optional<double> seconds(std::string_view word, double high);

// Whether a word is written as a number at all (a sign, "nan" and "inf"
// included), so that a time that cannot be is refused, not taken as text.
bool looksLikeNumber(std::string_view word);

} // namespace ui::scriptnumber
