#include "tools/http/requestline.h"

#include "platform/cp1250.h"
#include "platform/text.h"

namespace tools::http {

std::optional<std::string> requestedPath(std::string_view requestLine) {
    // The method and the version are found without case; the path keeps the
    // case it was sent in, as the file names here have case.
    const std::string request = text::trimLeft(requestLine);
    const std::string lower = cp1250::toLower(request);
    if (!lower.starts_with("get")) return std::nullopt;
    const std::size_t start = lower.find_first_not_of(' ', 3);
    const auto version = lower.find("http/", start == std::string::npos ? lower.size() : start);
    if (version == std::string::npos) return std::nullopt;
    // The path is taken without the blanks before the version: a file name
    // never ends in a blank on the system this rule was made for.
    return text::trimRight(std::string_view(request).substr(start, version - start));
}

std::string servedPath(std::string_view path, std::string_view defaultPage) {
    if (path.starts_with("../")) path.remove_prefix(3);
    if (path.starts_with("./")) path.remove_prefix(2);
    if (path.starts_with("/")) path.remove_prefix(1);
    return path.empty() ? text::trimRight(defaultPage) : std::string(path);
}

std::string servedFileName(std::string_view rootDir, std::string_view path) {
    return text::cut(text::trimRight(rootDir) + std::string(path), 254);
}

} // namespace tools::http
