#include "tools/http/linkextractor.h"

#include "platform/cp1250.h"
#include "platform/text.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tools::http {
namespace {

const std::array<char, 256>& upperTable() {
    static const std::array<char, 256> table = [] {
        std::array<char, 256> t{};
        for (int c = 0; c < 256; ++c)
            t[c] = cp1250::upper(static_cast<char>(c));
        return t;
    }();
    return table;
}

std::size_t skipBlanks(std::string_view s, std::size_t at) {
    while (at < s.size() && s[at] == ' ')
        ++at;
    return at;
}

std::size_t findIn(std::string_view s, std::size_t from, std::string_view what) {
    if (from > s.size() || what.empty()) return std::string_view::npos;
    const void* hit = ::memmem(s.data() + from, s.size() - from, what.data(), what.size());
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - s.data())
               : std::string_view::npos;
}

bool containsNoCase(std::string_view s, std::string_view upperNeedle) {
    return cp1250::toUpper(s).find(upperNeedle) != std::string::npos;
}

bool isAbsolute(std::string_view link) {
    return containsNoCase(link, "HTTP://") || containsNoCase(link, "HTTPS://") ||
           containsNoCase(link, "FTP://");
}

} // namespace

LinkExtractor::LinkExtractor(std::vector<std::string> tags) {
    for (auto& t : tags) {
        std::string tag = text::trimRight(t);
        if (tag.empty()) continue;
        m_longestTag = std::max(m_longestTag, tag.size());
        m_tags.push_back(std::move(tag));
    }
    m_nextHit.resize(m_tags.size());
}

bool LinkExtractor::dropped(std::string_view linkText) {
    return linkText.find("INTERNAL-GOPHER") != std::string_view::npos ||
           linkText.find('\'') != std::string_view::npos;
}

std::string LinkExtractor::clean(std::string_view link) {
    // A control character cannot be part of a file name on the system the
    // links were written for; the link ends there, as it does at a CR.
    const auto control = std::find_if(link.begin(), link.end(),
                                      [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    link = link.substr(0, static_cast<std::size_t>(control - link.begin()));
    link = link.substr(std::min(link.find_first_not_of(' '), link.size()));
    if (link.starts_with('"')) link.remove_prefix(1);
    if (link.starts_with('/')) link.remove_prefix(1);
    link = link.substr(0, link.find('"'));
    // A fragment names a place in the page, never another page: it does not
    // reach the server, and "a.htm#x" is the link "a.htm".
    link = link.substr(0, link.find('#'));
    link = link.substr(std::min(link.find_first_not_of(' '), link.size()));
    // The case stays: names on the server have case.
    return std::string(link.substr(0, link.find(' ')));
}

void LinkExtractor::feed(std::string_view block, const Found& found) {
    if (m_carry.empty()) {
        parse(block, false, found);
        return;
    }
    std::string data;
    data.swap(m_carry);
    data.append(block);
    parse(data, false, found);
}

void LinkExtractor::finish(const Found& found) {
    std::string data;
    data.swap(m_carry);
    if (!data.empty()) parse(data, true, found);
}

void LinkExtractor::parse(std::string_view data, bool last, const Found& found) {
    m_upper.resize(data.size());
    const auto& upper = upperTable();
    for (std::size_t i = 0; i < data.size(); ++i)
        m_upper[i] = upper[static_cast<unsigned char>(data[i])];
    const std::string_view b = m_upper;
    std::fill(m_nextHit.begin(), m_nextHit.end(), std::size_t{0});
    std::vector<bool> known(m_tags.size(), false);

    std::size_t pos = 0;
    for (;;) {
        // The first occurrence of any tag at or after pos; an earlier tag of the
        // list wins a tie. An occurrence found before is still valid while it
        // lies at or after pos.
        std::size_t at = std::string_view::npos, tagLength = 0;
        for (std::size_t k = 0; k < m_tags.size(); ++k) {
            if (!known[k] || (m_nextHit[k] != std::string_view::npos && m_nextHit[k] < pos)) {
                m_nextHit[k] = findIn(b, pos, m_tags[k]);
                known[k] = true;
            }
            if (m_nextHit[k] < at) {
                at = m_nextHit[k];
                tagLength = m_tags[k].size();
            }
        }
        if (at == std::string_view::npos) break;
        const std::size_t start = skipBlanks(b, at + tagLength);
        const std::size_t gt = b.find('>', start);
        std::size_t end = std::string_view::npos;
        if (gt != std::string_view::npos) {
            end = std::min(gt, b.find(' ', start));
        } else if (!last && b.size() - at <= kCarryLimit) {
            // The link may go on in the next block.
            m_carry.assign(data.substr(at));
            return;
        }
        const std::size_t length =
            std::min(end == std::string_view::npos ? b.size() : end, b.size()) - start;
        // Tags and the words that drop a link are found without case; the link
        // itself is taken as the page spells it.
        const bool drop = dropped(b.substr(start, length).substr(0, kLinkWidth));
        if (!drop) {
            const std::string_view linkText = data.substr(start, length).substr(0, kLinkWidth);
            std::string link = clean(linkText);
            // "#top" is the page itself.
            if (!link.empty() || linkText.find('#') == std::string_view::npos) found(link);
        }
        pos = end == std::string_view::npos || drop ? start : skipBlanks(b, end + 1);
    }
    // A tag may begin in the last bytes and end in the next block.
    if (!last && m_longestTag > 1) {
        const std::size_t keep = std::min(b.size() - pos, m_longestTag - 1);
        m_carry.assign(data.substr(data.size() - keep));
    }
}

std::string resolveLink(std::string_view link, std::string_view targetServer,
                        std::string_view pageDir) {
    std::string out;
    std::string_view server = targetServer;
    while (!server.empty() && server.back() == ' ')
        server.remove_suffix(1);
    if (link.starts_with("../")) {
        out = link.substr(3);
    } else if (link.starts_with("./")) {
        out = std::string(pageDir) + std::string(link.substr(2));
    } else {
        if (!server.empty() && link.starts_with(server))
            link.remove_prefix(std::min(link.size(), server.size() + 1));
        if (link.starts_with(pageDir) || isAbsolute(link))
            out = link;
        else
            out = std::string(pageDir) + std::string(link);
    }
    return out.substr(0, LinkExtractor::kLinkWidth);
}

} // namespace tools::http
