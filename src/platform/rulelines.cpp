#include "platform/rulelines.h"

#include <algorithm>

namespace text {
namespace {

std::string_view trimBlanks(std::string_view s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

} // namespace

std::vector<std::string_view> ruleLines(std::string_view text) {
    std::vector<std::string_view> lines;
    for (auto end = text.find_first_of("\r\n"); end != std::string_view::npos;
         end = text.find_first_of("\r\n")) {
        lines.push_back(text.substr(0, end));
        const std::size_t ending = text[end] == '\r' ? 2 : 1;
        text = trimBlanks(text.substr(std::min(end + ending, text.size())));
    }
    return lines;
}

} // namespace text
