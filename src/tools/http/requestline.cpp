#include "tools/http/requestline.h"

#include "platform/cp1250.h"
#include "platform/text.h"

namespace tools::http {

std::optional<std::string> requestedPath(std::string_view requestLine) {
    const std::string request = cp1250::toLower(text::trimLeft(requestLine));
    if (!request.starts_with("get")) return std::nullopt;
    const std::string rest = text::trimLeft(std::string_view(request).substr(3));
    const auto version = rest.find("http/");
    if (version == std::string::npos) return std::nullopt;
    // The path is taken without the blanks before the version: a file name
    // never ends in a blank on the system this rule was made for.
    return text::trimRight(text::trimLeft(std::string_view(rest).substr(0, version)));
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
