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

// The value of a header line named `name` (lower case, with its colon), blanks
// and tabs around it removed.
std::optional<std::string> headerValue(const std::string& lowerHeader, std::string_view name) {
    std::size_t at = 0;
    while (at < lowerHeader.size()) {
        const auto end = std::min(lowerHeader.find("\r\n", at), lowerHeader.size());
        const std::string_view line = std::string_view(lowerHeader).substr(at, end - at);
        at = end + 2;
        if (!line.starts_with(name)) continue;
        std::string_view value = line.substr(name.size());
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
            value.remove_suffix(1);
        return std::string(value);
    }
    return std::nullopt;
}

} // namespace

std::string ResponseReader::faultText() const {
    switch (m_fault) {
    case Fault::None:
        return "";
    case Fault::Status:
        return m_header.substr(0, m_header.find("\r\n"));
    case Fault::HeaderTooLong:
        return "header over 64 KB";
    case Fault::Expanded:
        return "expands past 100x";
    case Fault::TooLarge:
        return "over " + std::to_string(m_storedLimit >> 20) + " MB";
    case Fault::BadCoding:
        return "damaged coding";
    case Fault::CutInHeader:
        return "closed in its header";
    case Fault::Short:
        return "closed after " + std::to_string(m_received) + " of " +
               std::to_string(m_contentLength.value_or(0)) + " bytes";
    case Fault::ChunksCut:
        return "closed before its last chunk";
    }
    return "";
}

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
    m_fault = Fault::None;
    m_status = 0;
    m_contentLength.reset();
    m_received = 0;
    m_stored = 0;
}

void ResponseReader::feed(std::string_view block, const Sink& sink) {
    if (m_fault != Fault::None) return;
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
    if (http && end == std::string::npos) {
        // Headers without end are a server filling memory or the disk.
        m_pending.clear();
        m_fault = Fault::HeaderTooLong;
        return;
    }
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
    readHeader(pending.substr(0, end + 2));
    if (m_fault != Fault::None) return;
    body(std::string_view(pending).substr(end + 4), sink);
}

void ResponseReader::readHeader(const std::string& header) {
    // "HTTP/1.1 404 Not Found": three digits after the first blank.
    const auto blank = header.find(' ');
    if (blank != std::string::npos && header.size() >= blank + 4) {
        const std::string_view code = std::string_view(header).substr(blank + 1, 3);
        if (code.find_first_not_of("0123456789") == std::string_view::npos)
            m_status = std::stoi(std::string(code));
    }
    if (m_status != 0 && (m_status < 200 || m_status > 299)) {
        m_fault = Fault::Status;
        return;
    }
    if (const auto length = headerValue(cp1250::toLower(header), "content-length:");
        length && !length->empty() && length->size() <= 18 &&
        length->find_first_not_of("0123456789") == std::string::npos)
        m_contentLength = std::stoull(*length);
}

void ResponseReader::body(std::string_view bytes, const Sink& sink) {
    if (bytes.empty() || m_fault != Fault::None) return;
    m_received += bytes.size();
    if (m_state == 3)
        m_chunks.feed(bytes, [&](std::string_view data) { decoded(data, sink); });
    else
        decoded(bytes, sink);
    if (m_fault == Fault::None && (m_chunks.broken() || (m_inflater && m_inflater->failed())))
        m_fault = Fault::BadCoding;
}

void ResponseReader::decoded(std::string_view bytes, const Sink& sink) {
    if (m_inflater)
        m_inflater->feed(bytes, [&](std::string_view out) { emit(out, sink); });
    else
        emit(bytes, sink);
}

void ResponseReader::emit(std::string_view bytes, const Sink& sink) {
    if (m_fault != Fault::None) return;
    m_stored += bytes.size();
    if (m_stored > m_storedLimit)
        m_fault = Fault::TooLarge;
    else if (m_inflater && m_stored > kExpandFloor && m_stored / kExpandRatio > m_received)
        m_fault = Fault::Expanded;
    if (m_fault == Fault::None) {
        sink(bytes);
        return;
    }
    if (m_inflater) m_inflater->stop();
}

void ResponseReader::finish(const Sink& sink) {
    if (m_gathering) {
        m_gathering = false;
        std::string pending;
        pending.swap(m_pending);
        // Headers still waiting for their empty line are not headers after all.
        body(pending, sink);
        if (m_fault == Fault::None && cp1250::toUpper(pending.substr(0, 5)) == "HTTP/")
            m_fault = Fault::CutInHeader;
    }
    if (m_fault != Fault::None || m_state < 2) return;
    // A body is whole when its length, its last chunk and its coding's end came.
    if (m_state == 2 && m_contentLength && m_received < *m_contentLength)
        m_fault = Fault::Short;
    else if (m_state == 3 && !m_chunks.finished())
        m_fault = Fault::ChunksCut;
    else if (m_inflater && m_received > 0 && !m_inflater->finished())
        m_fault = Fault::BadCoding;
}

} // namespace tools::http
