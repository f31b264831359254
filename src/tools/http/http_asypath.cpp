#include "tools/http/http_asypath.h"

#include "platform/cp1250.h"
#include "platform/text.h"
#include "tools/http/fetchrules.h"

#include <algorithm>
#include <cctype>

namespace tools {
namespace {

// The URL without its leading blanks; one that names only a server ("http://h",
// "https://h", "ftp://h") gets the "/" that makes its path the root.
std::string WithServerSlash(std::string_view url) {
    std::string u = text::trimLeft(url);
    const std::size_t last = u.rfind('/');
    if (last != std::string::npos) {
        const std::string head = u.substr(0, last + 1);
        for (const char* bare : {"HTTP://", "HTTPS://", "FTP://"})
            if (cp1250::equalNoCase(head, bare)) return u + "/";
    }
    return u;
}

// The segments Windows would see in a folder path: "\" separates as "/" does.
std::vector<std::string> Segments(std::string_view path) {
    std::vector<std::string> out(1);
    for (char c : path) {
        if (c == '/' || c == '\\')
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

} // namespace

bool PlainHostPart(std::string_view part) {
    if (http::isBracketedIpv6(part)) return true;
    const std::size_t colon = part.find(':');
    const std::string_view host = part.substr(0, colon);
    if (host.empty() || host == "." || host == "..") return false;
    const bool hostOk = std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.';
    });
    if (!hostOk) return false;
    if (colon == std::string_view::npos) return true;
    const std::string_view port = part.substr(colon + 1);
    return !port.empty() && port.size() <= 5 && std::all_of(port.begin(), port.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
    });
}

std::string LocalNameFor(std::string_view url) {
    std::string u = cp1250::toUpper(text::trimLeft(url));
    std::replace(u.begin(), u.end(), '\\', '/');
    // Whatever stands up to a "../" is dropped with it.
    for (std::size_t at; (at = u.find("../")) != std::string::npos;)
        u = u.substr(at + 3);
    const std::size_t last = u.rfind('/');
    std::string name = last == std::string::npos ? std::string() : u.substr(last + 1);
    if (name.empty()) name = "index";
    if (name.find('?') != std::string::npos) std::erase(name, '.');
    for (char c : {'/', '?', '=', '#'})
        std::erase(name, c);
    if (name.find('.') == std::string::npos) name += ".htm";
    return cp1250::toLower(name);
}

DownloadTarget DownloadTargetFor(std::string_view url, const std::string& currentDirectory) {
    DownloadTarget target;
    target.url = WithServerSlash(url);
    const std::string& u = target.url;

    // The folder part: up to the last "/", after the scheme's "//".
    const std::size_t last = u.rfind('/');
    std::string w = last == std::string::npos ? u : u.substr(0, last + 1);
    if (const std::size_t slashes = w.find("//"); slashes != std::string::npos)
        w = w.substr(slashes + 2);

    const std::vector<std::string> segments = Segments(w);
    const bool climbs = std::any_of(segments.begin(), segments.end(),
                                    [](const std::string& s) { return s == ".."; });
    if (climbs || !PlainHostPart(segments.front())) {
        target.refused = true;
        return target;
    }

    // One folder per "/", each the path so far; a URL without any "/" names one
    // folder, and its file then sits beside it, the two names run together.
    std::string relative;
    for (std::size_t from = 0, slash; (slash = w.find('/', from)) != std::string::npos;
         from = slash + 1) {
        relative = w.substr(0, slash + 1);
        target.folders.push_back(relative.substr(0, relative.size() - 1));
    }
    if (w.find('/') == std::string::npos && !w.empty()) {
        relative = w;
        target.folders.push_back(relative);
    }
    const std::string name = LocalNameFor(u);
    const std::string base = currentDirectory + "/";
    target.filePath = text::trimRight(base + relative + name);
    target.shownPath = text::trimRight(base + cp1250::toLower(relative) + name);
    return target;
}

} // namespace tools
