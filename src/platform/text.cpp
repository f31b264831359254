#include "platform/text.h"

#include <charconv>
#include <limits>

namespace text {

std::string cut(std::string_view s, std::size_t width) {
    return std::string(s.substr(0, width));
}

std::string pad(std::string_view s, std::size_t width) {
    std::string out = cut(s, width);
    out.resize(width, ' ');
    return out;
}

std::string trimRight(std::string_view s) {
    std::size_t end = s.size();
    while (end > 0 && s[end - 1] == ' ') --end;
    return std::string(s.substr(0, end));
}

std::string trimLeft(std::string_view s) {
    std::size_t begin = 0;
    while (begin < s.size() && s[begin] == ' ') ++begin;
    return std::string(s.substr(begin));
}

std::uint64_t leadingDecimal(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    std::uint64_t value = 0;
    constexpr auto max = std::numeric_limits<std::uint64_t>::max();
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        const unsigned digit = static_cast<unsigned>(s[i] - '0');
        if (value > (max - digit) / 10) return max;
        value = value * 10 + digit;
    }
    return value;
}

long long leadingInteger(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    const std::uint64_t magnitude = leadingDecimal(s.substr(i));
    constexpr auto max = static_cast<std::uint64_t>(std::numeric_limits<long long>::max());
    const long long v = static_cast<long long>(magnitude > max ? max : magnitude);
    return negative ? -v : v;
}

std::string fixed(double value, int decimals) {
    char buffer[384]; // room for any double in full, with its decimals
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                            std::chars_format::fixed, decimals);
    return error == std::errc() ? std::string(buffer, end) : std::string();
}

} // namespace text
