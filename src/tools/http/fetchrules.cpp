#include "tools/http/fetchrules.h"

#include "platform/cp1250.h"
#include "platform/text.h"

#include <algorithm>

#include <arpa/inet.h>

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

bool isBracketedIpv6(std::string_view server) {
    const auto close = server.find(']');
    if (!server.starts_with('[') || close == std::string_view::npos) return false;
    const std::string address(server.substr(1, close - 1));
    in6_addr bytes{};
    if (::inet_pton(AF_INET6, address.c_str(), &bytes) != 1) return false;
    const std::string_view rest = server.substr(close + 1);
    if (rest.empty()) return true;
    const std::string_view port = rest.substr(1);
    return rest.front() == ':' && !port.empty() && port.size() <= 5 &&
           port.find_first_not_of("0123456789") == std::string_view::npos;
}

std::string bracketedServer(std::string_view server) {
    const std::string bare(server);
    in6_addr bytes{};
    if (::inet_pton(AF_INET6, bare.c_str(), &bytes) == 1) return "[" + bare + "]";
    return bare;
}

bool isPlainHostName(std::string_view server) {
    if (isBracketedIpv6(server)) return true;
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

HostPort splitHostPort(std::string_view server) {
    HostPort out{std::string(server), std::nullopt};
    const auto colon = server.rfind(':');
    if (colon == std::string_view::npos) return out;
    const std::string_view digits = server.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string_view::npos)
        return out;
    const unsigned long port = std::stoul(std::string(digits));
    if (port > 65535) return out;
    out.host = std::string(server.substr(0, colon));
    out.port = static_cast<std::uint16_t>(port);
    return out;
}

namespace {

// The length of a well-formed UTF-8 sequence at `at` and its code point; 0 when
// the bytes there are no such sequence.
std::size_t utf8At(std::string_view s, std::size_t at, char32_t& cp) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[at + i]); };
    const unsigned char lead = b(0);
    std::size_t n = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (lead >= 0xF5 || n == 0 || at + n > s.size()) return 0;
    cp = lead & (0x7F >> n);
    for (std::size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i) & 0x3F);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

bool hidden(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x061C || cp == 0x200E ||
           cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

} // namespace

std::string printableName(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    const auto escape = [&](std::string_view bytes) {
        static const char hex[] = "0123456789ABCDEF";
        for (const char c : bytes) {
            const auto u = static_cast<unsigned char>(c);
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 0x0F];
        }
    };
    for (std::size_t at = 0; at < path.size();) {
        // A byte that is no UTF-8 stands for itself (Windows-1250 text): only
        // the C1 range hides.
        char32_t cp = static_cast<unsigned char>(path[at]);
        std::size_t n = 1;
        if (char32_t decoded = 0; cp >= 0x80) {
            if (const std::size_t m = utf8At(path, at, decoded)) {
                n = m;
                cp = decoded;
            }
        }
        const std::string_view bytes = path.substr(at, n);
        if (hidden(cp))
            escape(bytes);
        else
            out += bytes;
        at += n;
    }
    return out;
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
