#include "tools/http/downloadqueue.h"

#include "platform/cp1250.h"
#include "platform/text.h"

namespace tools::http {

bool isPicture(std::string_view link) {
    const std::string upper = cp1250::toUpper(link);
    for (const char* ext : {".GIF", ".BMP", ".JPG", ".JPEG", ".ICO", ".WMF", ".PCX"})
        if (upper.find(ext) != std::string::npos) return true;
    return false;
}

bool isAbsoluteLink(std::string_view link) {
    const std::string upper = cp1250::toUpper(link);
    for (const char* scheme : {"HTTP://", "HTTPS://", "FTP://"})
        if (upper.find(scheme) != std::string::npos) return true;
    return false;
}

std::deque<std::string>& DownloadQueue::kindQueue(std::uint8_t kind) {
    return kind == 1 ? m_pictures : kind == 5 ? m_pages : m_offSite;
}

bool DownloadQueue::offer(const std::string& link, const std::vector<std::string>& omitStrings) {
    // A link still queued changes nothing, whatever the omit strings say: pages
    // repeat their links, so this is the common case and is decided first.
    if (m_members.count(link)) return false;
    const std::string upper = cp1250::toUpper(link);
    bool keep = true;
    for (const auto& omit : omitStrings) {
        const std::string o = text::trimRight(omit);
        if (!o.empty() && upper.find(o) != std::string::npos) {
            keep = false;
            break;
        }
    }
    if (!keep) return false;
    std::uint8_t kind = isPicture(link) ? 1 : 5;
    if (isAbsoluteLink(link)) {
        if (kind != 1) return false;
        kind = 9;
    }
    if (m_members.size() >= m_limit) {
        ++m_refused;
        return false;
    }
    kindQueue(kind).push_back(link);
    m_members.insert(link);
    return true;
}

std::optional<QueuedLink> DownloadQueue::take() {
    for (std::uint8_t kind : {1, 5, 9}) {
        auto& q = kindQueue(kind);
        if (q.empty()) continue;
        QueuedLink link{std::move(q.front()), kind};
        q.pop_front();
        m_members.erase(link.url);
        return link;
    }
    return std::nullopt;
}

void DownloadQueue::clear() {
    m_pictures.clear();
    m_pages.clear();
    m_offSite.clear();
    m_members.clear();
}

std::vector<std::string> DownloadQueue::urls() const {
    std::vector<std::string> out;
    out.reserve(size());
    for (const auto* q : {&m_pictures, &m_pages, &m_offSite})
        out.insert(out.end(), q->begin(), q->end());
    return out;
}

} // namespace tools::http
