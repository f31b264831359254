#pragma once
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace tools::http {

// One link waiting to be fetched: pictures of this site first (kind 1), then
// its other links (5), then pictures given with an absolute address (9).
struct QueuedLink {
    std::string url;
    std::uint8_t kind = 5;
};

// ".GIF", ".BMP", ".JPG", ".JPEG", ".ICO", ".WMF" or ".PCX" anywhere, any case.
bool isPicture(std::string_view link);
// "HTTP://", "HTTPS://" or "FTP://" anywhere, any case.
bool isAbsoluteLink(std::string_view link);

// The download queue. A link still in the queue is never added again; one
// taken out may come back. Within a kind the links keep their order.
class DownloadQueue {
public:
    // Offers a link found on a page: links holding an omit string (upper case,
    // compared without case) and absolute links that are not pictures are not
    // queued. True when it was added.
    // A link that would be queued while the queue holds `limit()` links is
    // not, and is counted in `refused()`.
    bool offer(const std::string& link, const std::vector<std::string>& omitStrings);
    // The first link of the lowest kind, taken out of the queue.
    std::optional<QueuedLink> take();
    std::size_t size() const { return m_members.size(); }
    bool empty() const { return m_members.empty(); }
    void clear();
    // The most links the queue holds: a page of millions of links is not let
    // take the memory.
    static constexpr std::size_t kLimit = 100000;
    std::size_t limit() const { return m_limit; }
    void setLimit(std::size_t limit) { m_limit = limit; }
    // Links turned away since the count was last taken.
    std::size_t takeRefused() { return std::exchange(m_refused, 0); }
    // The links in the order they will be taken.
    std::vector<std::string> urls() const;

private:
    std::deque<std::string>& kindQueue(std::uint8_t kind);

    std::deque<std::string> m_pictures, m_pages, m_offSite;
    std::unordered_set<std::string> m_members;
    std::size_t m_limit = kLimit;
    std::size_t m_refused = 0;
};

} // namespace tools::http
