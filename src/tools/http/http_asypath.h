#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace tools {

// Where the asynchronous download stores a URL: a folder per server and per path
// segment beneath the current directory, and a file name made from the last
// segment (the URL "http://h/a/b/page.htm" gives the folders h, h/a, h/a/b and
// the file page.htm in h/a/b).
struct DownloadTarget {
    // The URL is refused: its folders would leave the current directory (a ".."
    // segment) or its server part is not a plain host name with an optional
    // port. Nothing is to be created or written then.
    bool refused = false;
    // The URL to open: one that names only a server gets its "/".
    std::string url;
    // The folders to create, relative to the current directory, in order, spelled
    // as the URL spells them (the file system here tells case apart; Windows
    // would find them whatever their case).
    std::vector<std::string> folders;
    // The file to create, and the same path as the window shows it: the part
    // below the current directory lower-cased.
    std::string filePath;
    std::string shownPath;
};

// The folders and file for `url` beneath `currentDirectory`.
DownloadTarget DownloadTargetFor(std::string_view url, const std::string& currentDirectory);

// The file name for a URL: the last segment, "index" when there is none, a query
// losing its dots and "/", "?", "=" and "#" dropped, ".htm" added when no dot is
// left, all lower-cased ("q.asp?a=1&b=2" gives "qaspa1&b2.htm").
std::string LocalNameFor(std::string_view url);

// A server part the folders may be named after: letters, digits, "-" and "."
// with an optional ":" and port digits, and not ".."; or an IPv6 address in
// brackets with an optional ":" and port ("[::1]:8080").
bool PlainHostPart(std::string_view part);

} // namespace tools
