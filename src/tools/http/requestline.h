#pragma once
#include <optional>
#include <string>
#include <string_view>

// How the HTTP server reads a request's first line. No window, no socket.
namespace tools::http {

// The path of a request line as sent, blanks around it removed, or nothing when
// the request is refused: not "get", or no "http/" version after it (both
// without case).
std::optional<std::string> requestedPath(std::string_view requestLine);

// The path as the file name rule takes it: one leading "../", then one "./",
// then one "/" dropped, in that order; an empty path is `defaultPage`.
std::string servedPath(std::string_view path, std::string_view defaultPage);

// RootDir without trailing blanks immediately followed by the path, with no
// separator put between them, at most 254 characters.
std::string servedFileName(std::string_view rootDir, std::string_view path);

} // namespace tools::http
