#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tools::http {

// Finds the links of a stored page, block by block, under the user's parse tags
// (upper case, searched for literally, "HREF=" and "SRC=" for example). The
// text after a tag, up to the first ">" or blank, is the link; it is cleaned
// (quotes, a leading "/", a fragment) and handed on in the case the page
// wrote it; a link that is only a fragment names the page itself and is not
// handed on. A link or a tag cut by a block
// boundary is carried into the next block, so blocks give the links the whole
// page gives.
class LinkExtractor {
public:
    using Found = std::function<void(const std::string& link)>;

    explicit LinkExtractor(std::vector<std::string> tags);

    void feed(std::string_view block, const Found& found);
    // The page has ended: what was carried is parsed as it stands.
    void finish(const Found& found);
    void reset() { m_carry.clear(); }

    // At most this much of the page is carried from one block to the next; a
    // link still open after it is taken as the block ends, as it would be
    // without the carry.
    static constexpr std::size_t kCarryLimit = 10240;
    // Of a link's text at most this much is kept.
    static constexpr std::size_t kLinkWidth = 128;

    // Step by step: whether the link text as found (upper case) is dropped;
    // the link text (as the page spells it) to the link as queued before it is
    // resolved.
    static bool dropped(std::string_view linkText);
    static std::string clean(std::string_view linkText);

private:
    void parse(std::string_view data, bool last, const Found& found);

    std::vector<std::string> m_tags;
    std::size_t m_longestTag = 0;
    std::string m_carry;
    std::string m_upper;                // the block being parsed, upper case
    std::vector<std::size_t> m_nextHit; // per tag: its next occurrence, for reuse
};

// Resolves a cleaned link against the page it was found on: "../" is dropped,
// "./" and other relative links get `pageDir` in front; a link that begins with
// the server's name loses it and the character after it.
std::string resolveLink(std::string_view link, std::string_view targetServer,
                        std::string_view pageDir);

} // namespace tools::http
