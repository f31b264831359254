#include "tools/http/rulefile.h"

#include "platform/cp1250.h"
#include "platform/regularfile.h"
#include "platform/rulelines.h"
#include "platform/text.h"

#include <utility>

namespace tools::http::rulefile {

std::vector<std::string> load(std::string_view bytes, std::size_t width) {
    std::string_view text = bytes.substr(0, std::min(bytes.size(), FileLimit));
    text = text.substr(0, text.find('\0'));
    std::vector<std::string> lines;
    // Split as the port lists are, by the tools' one rule for their rule files.
    for (const std::string_view raw : text::ruleLines(text)) {
        const std::string line = text::trimRight(raw);
        if (!line.empty()) lines.push_back(text::cut(cp1250::toUpper(line), width));
    }
    return lines;
}

std::optional<std::string> readFile(const std::string& path) {
    auto file = win::readRegularFile(path, FileLimit);
    if (file.status != win::RegularFile::Status::Read) return std::nullopt;
    return std::move(file.bytes);
}

} // namespace tools::http::rulefile
