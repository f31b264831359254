#include "tools/http/chunkdecoder.h"

#include "platform/cp1250.h"
#include "platform/text.h"

#include <algorithm>

namespace tools::http {
namespace {

// A size line longer than this is no size line: the rest is not a chunked body.
constexpr std::size_t kLongestLine = 4096;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

std::uint16_t HexToNumber(std::string_view text) {
    const std::string digits = text::trimRight(cp1250::toUpper(text.substr(0, 4)));
    std::uint16_t value = 0;
    for (std::size_t k = 0; k < digits.size(); ++k) {
        const auto c = static_cast<unsigned char>(digits[digits.size() - 1 - k]);
        unsigned digit = 0;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c > '@')
            digit = c - 55u;
        value = static_cast<std::uint16_t>(value | ((digit << (4 * k)) & 0xFFFFu));
    }
    return value;
}

bool ChunkDecoder::sizeOfLine(std::string_view line, std::uint64_t& size) {
    line = line.substr(0, line.find(';'));
    while (!line.empty() && isSpace(line.front()))
        line.remove_prefix(1);
    while (!line.empty() && isSpace(line.back()))
        line.remove_suffix(1);
    if (line.empty() || line.size() > 16) return false;
    size = 0;
    for (char c : line) {
        const int d = hexDigit(c);
        if (d < 0) return false;
        size = size << 4 | static_cast<unsigned>(d);
    }
    return true;
}

void ChunkDecoder::reset() {
    m_state = State::SizeLine;
    m_line.clear();
    m_left = 0;
}

void ChunkDecoder::endSizeLine() {
    std::string_view line = m_line;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::uint64_t size = 0;
    if (m_state == State::Trailer) {
        // Trailer lines are skipped; the empty one ends the body.
        if (line.empty()) m_state = State::Done;
    } else if (line.find_first_not_of(" \t") == std::string_view::npos) {
        // The CR LF after a chunk's data: an empty size line, nothing to write.
    } else if (!sizeOfLine(line, size)) {
        m_state = State::Broken;
    } else if (size == 0) {
        m_state = State::Trailer;
    } else {
        m_left = size;
        m_state = State::Data;
    }
    m_line.clear();
}

void ChunkDecoder::feed(std::string_view block, const Sink& sink) {
    while (!block.empty()) {
        switch (m_state) {
        case State::Done:
        case State::Broken:
            return;
        case State::Data: {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(m_left, block.size()));
            sink(block.substr(0, n));
            block.remove_prefix(n);
            m_left -= n;
            if (m_left == 0) m_state = State::SizeLine;
            break;
        }
        case State::SizeLine:
        case State::Trailer: {
            const auto lf = block.find('\n');
            m_line.append(block.substr(0, std::min(lf, block.size())));
            if (m_line.size() > kLongestLine) {
                m_state = State::Broken;
                return;
            }
            if (lf == std::string_view::npos) return;
            block.remove_prefix(lf + 1);
            endSizeLine();
            break;
        }
        }
    }
}

} // namespace tools::http
