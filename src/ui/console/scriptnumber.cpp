#include "ui/console/scriptnumber.h"

#include <charconv>
#include <cmath>

namespace ui::scriptnumber {

std::optional<long long> whole(std::string_view word, long long low, long long high) {
    if (word.empty() || word.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    long long value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size()) return std::nullopt;
    if (value < low || value > high) return std::nullopt;
    return value;
}

std::optional<double> seconds(std::string_view word, double high) {
    if (word.empty() || word.front() == '-' || word.front() == '+') return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size()) return std::nullopt;
    if (!std::isfinite(value) || value < 0 || value > high) return std::nullopt;
    return value;
}

bool looksLikeNumber(std::string_view word) {
    if (!word.empty() && (word.front() == '-' || word.front() == '+')) word.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    return !word.empty() && end == word.data() + word.size() &&
           (error == std::errc() || error == std::errc::result_out_of_range);
}

} // namespace ui::scriptnumber
