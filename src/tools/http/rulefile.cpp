#include "tools/http/rulefile.h"

#include "platform/cp1250.h"
#include "platform/regularfile.h"
#include "platform/text.h"

#include <utility>

namespace tools::http::rulefile {

std::vector<std::string> load(std::string_view bytes, std::size_t width) {
    std::string_view text = bytes.substr(0, std::min(bytes.size(), FileLimit));
    text = text.substr(0, text.find('\0'));
    std::vector<std::string> lines;
    for (;;) {
        const auto end = text.find_first_of("\r\n");
        if (end == std::string_view::npos) break;
        const std::string line = text::trimRight(text.substr(0, end));
        if (!line.empty()) lines.push_back(text::cut(cp1250::toUpper(line), width));
        const std::size_t next = text[end] == '\r' ? end + 2 : end + 1;
        text = text.substr(std::min(next, text.size()));
        text = text.substr(std::min(text.find_first_not_of(' '), text.size()));
    }
    return lines;
}

std::optional<std::string> readFile(const std::string& path) {
    auto file = win::readRegularFile(path, FileLimit);
    if (file.status != win::RegularFile::Status::Read) return std::nullopt;
    return std::move(file.bytes);
}

} // namespace tools::http::rulefile
