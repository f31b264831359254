#include "tools/http/fetchrules.h"

#include "platform/cp1250.h"
#include "platform/text.h"

#include <algorithm>

namespace tools::http {
namespace {

constexpr std::size_t kServerWidth = 127;
constexpr std::size_t kPageWidth = 128;

bool isAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

} // namespace

std::string DirectoryPart(std::string_view s) {
    const std::string t = text::trimRight(s);
    if (const auto slash = t.rfind('/'); slash != std::string::npos) return t.substr(0, slash + 1);
    if (const auto colon = t.find(':'); colon != std::string::npos)
        return t.substr(0, colon + 1) + "/";
    return {};
}

std::string FileNamePart(std::string_view s) {
    if (const auto slash = s.rfind('/'); slash != std::string_view::npos)
        return text::trimRight(s.substr(slash + 1));
    if (s.find(':') != std::string_view::npos) return {};
    return text::trimRight(s);
}

bool shouldFetch(bool fileExistsNonEmpty, bool firstSinceGo, bool writeOver) {
    return !fileExistsNonEmpty || firstSinceGo || writeOver;
}

std::string requestText(std::string_view path, std::string_view resolvedIp, std::uint16_t port) {
    std::string r;
    r += "GET /" + text::trimRight(path) + " HTTP/1.1\r\n";
    r += "Host: " + std::string(resolvedIp) + ":" + std::to_string(port) + "\r\n";
    r += "Accept: application/vnd.ms-excel, application/msword, application/vnd.ms-powerpoint, "
         "application/x-comet, image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n";
    r += "Accept-Language: hr\r\n";
    r += "Accept-Encoding: gzip, deflate\r\n";
    r += "User-Agent: Mozilla/4.0 (compatible; MSIE 5.01; Windows 98)\r\n";
    r += "Connection: close\r\n";
    r += "\r\n";
    return r;
}

bool isPlainHostName(std::string_view server) {
    std::string_view host = server;
    if (const auto colon = server.find(':'); colon != std::string_view::npos) {
        const std::string_view port = server.substr(colon + 1);
        if (port.empty() || port.size() > 5 ||
            !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        host = server.substr(0, colon);
    }
    bool named = false;
    for (char c : host) {
        if (isAlnum(c))
            named = true;
        else if (c != '-' && c != '.')
            return false;
    }
    return named;
}

bool staysInside(std::string_view path) {
    const std::string p = diskPath(path);
    if (p.starts_with('/')) return false;
    std::size_t start = 0;
    while (start <= p.size()) {
        const auto end = std::min(p.find('/', start), p.size());
        if (p.substr(start, end - start) == "..") return false;
        start = end + 1;
    }
    return true;
}

std::string diskPath(std::string_view path) {
    std::string p(path);
    std::replace(p.begin(), p.end(), '\\', '/');
    return p;
}

bool isDottedAddress(std::string_view server) {
    const std::string_view head = server.substr(0, std::min<std::size_t>(server.size(), 32));
    return std::count(head.begin(), head.end(), '.') == 3;
}

OffSiteTarget offSiteTarget(std::string_view url) {
    std::string server = text::cut(url, kServerWidth);
    // Each scheme in turn, the second looked for in what the first left.
    for (const std::string_view scheme : {"HTTP://", "HTTPS://"}) {
        const auto at = cp1250::toUpper(server).find(scheme);
        if (at != std::string::npos && server.size() >= at + scheme.size() + 2)
            server = server.substr(at + scheme.size());
    }
    server = text::trimLeft(server);
    OffSiteTarget target;
    if (const auto slash = server.find('/'); slash != std::string::npos) {
        target.page = text::cut(server.substr(slash + 1), kPageWidth);
        server.resize(slash);
    }
    target.server = server;
    return target;
}

} // namespace tools::http
