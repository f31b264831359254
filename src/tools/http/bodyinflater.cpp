#include "tools/http/bodyinflater.h"

#include <zlib.h>

#include <array>
#include <string>

namespace tools::http {

struct BodyInflater::Stream {
    z_stream z{};
    bool open = false;
    ~Stream() {
        if (open) inflateEnd(&z);
    }
};

BodyInflater::BodyInflater(Coding coding) : m_coding(coding) {}

BodyInflater::~BodyInflater() = default;

bool BodyInflater::start(int windowBits) {
    m_stream = std::make_unique<Stream>();
    m_stream->open = inflateInit2(&m_stream->z, windowBits) == Z_OK;
    return m_stream->open;
}

void BodyInflater::feed(std::string_view data, const Sink& sink) {
    if (m_failed || m_finished || m_stopped || data.empty()) return;
    std::string head;
    if (!m_started && m_coding == Coding::Deflate) {
        // The wrapper is told by the first two bytes, which may come apart.
        if (m_head.size() + data.size() < 2) {
            m_head.append(data);
            return;
        }
        head = m_head + std::string(data);
        m_head.clear();
        data = head;
    }
    if (!m_started) {
        m_started = true;
        // gzip: the gzip wrapper (16 + 15). deflate: the zlib wrapper, whose
        // first two bytes are a multiple of 31 with method 8; else a bare stream.
        int bits = 16 + MAX_WBITS;
        if (m_coding == Coding::Deflate) {
            const auto b0 = static_cast<unsigned char>(data[0]);
            const bool wrapped = data.size() >= 2 && (b0 & 0x0F) == 8 &&
                                 ((b0 << 8) | static_cast<unsigned char>(data[1])) % 31 == 0;
            bits = wrapped ? MAX_WBITS : -MAX_WBITS;
        }
        if (!start(bits)) {
            m_failed = true;
            return;
        }
    }
    z_stream& z = m_stream->z;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    std::array<char, 65536> out;
    while (z.avail_in > 0 || z.avail_out == 0) {
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = static_cast<uInt>(out.size());
        const int rc = inflate(&z, Z_NO_FLUSH);
        const std::size_t made = out.size() - z.avail_out;
        if (made > 0) sink(std::string_view(out.data(), made));
        if (m_stopped) return;
        if (rc == Z_STREAM_END) {
            m_finished = true;
            return;
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            m_failed = true;
            return;
        }
        if (rc == Z_BUF_ERROR && made == 0) return; // needs more input
    }
}

} // namespace tools::http
