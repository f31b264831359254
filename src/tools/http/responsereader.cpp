#include "tools/http/responsereader.h"

#include "platform/cp1250.h"
#include "platform/text.h"

namespace tools::http {
namespace {

// The coding a "Content-Encoding" header line names, if it is one we decode.
std::unique_ptr<BodyInflater> inflaterFor(const std::string& header) {
    const std::string lower = cp1250::toLower(header);
    std::size_t at = 0;
    while (at < lower.size()) {
        const auto end = std::min(lower.find("\r\n", at), lower.size());
        const std::string_view line = std::string_view(lower).substr(at, end - at);
        at = end + 2;
        if (!line.starts_with("content-encoding:")) continue;
        std::string value = text::trimRight(text::trimLeft(line.substr(17)));
        while (!value.empty() && value.back() == '\t')
            value.pop_back();
        if (value == "gzip" || value == "x-gzip")
            return std::make_unique<BodyInflater>(BodyInflater::Coding::Gzip);
        if (value == "deflate")
            return std::make_unique<BodyInflater>(BodyInflater::Coding::Deflate);
    }
    return nullptr;
}

} // namespace

const char* ResponseReader::kindText() const {
    switch (m_state) {
    case 2:
        return "http/1.x";
    case 3:
        return "http/1.*";
    }
    return "http/0.9";
}

void ResponseReader::reset() {
    m_state = 0;
    m_gathering = false;
    m_pending.clear();
    m_header.clear();
    m_chunks.reset();
    m_inflater.reset();
}

void ResponseReader::feed(std::string_view block, const Sink& sink) {
    if (m_state == 0) {
        m_state = 1;
        m_gathering = true;
    }
    if (!m_gathering) {
        body(block, sink);
        return;
    }
    m_pending.append(block);
    split(sink);
}

void ResponseReader::split(const Sink& sink) {
    // Until five bytes have come it cannot be told whether they say "HTTP/".
    if (m_pending.size() < 5) return;
    const bool http = cp1250::toUpper(m_pending.substr(0, 5)) == "HTTP/";
    const auto end = http ? m_pending.find("\r\n\r\n") : std::string::npos;
    if (http && end == std::string::npos && m_pending.size() < kHeaderLimit) return;
    m_gathering = false;
    std::string pending;
    pending.swap(m_pending);
    if (end == std::string::npos) {
        body(pending, sink); // stays raw: the whole of it is body
        return;
    }
    m_header = pending.substr(0, std::min(end + 2, kHeaderWidth));
    const std::string upper = cp1250::toUpper(pending.substr(0, end + 2));
    m_state = upper.find("CODING: CHUNKED") != std::string::npos ? 3 : 2;
    m_inflater = inflaterFor(pending.substr(0, end + 2));
    body(std::string_view(pending).substr(end + 4), sink);
}

void ResponseReader::body(std::string_view bytes, const Sink& sink) {
    if (bytes.empty()) return;
    if (m_state == 3)
        m_chunks.feed(bytes, [&](std::string_view data) { decoded(data, sink); });
    else
        decoded(bytes, sink);
}

void ResponseReader::decoded(std::string_view bytes, const Sink& sink) {
    if (m_inflater)
        m_inflater->feed(bytes, sink);
    else
        sink(bytes);
}

void ResponseReader::finish(const Sink& sink) {
    if (!m_gathering) return;
    m_gathering = false;
    std::string pending;
    pending.swap(m_pending);
    body(pending, sink);
}

} // namespace tools::http
