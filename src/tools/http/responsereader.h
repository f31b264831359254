#pragma once
#include "tools/http/bodyinflater.h"
#include "tools/http/chunkdecoder.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tools::http {

// One response as its blocks arrive: the status and header lines split off when
// the response begins with "HTTP/", the body handed on to be stored, through
// the chunk decoder when the headers say "CODING: CHUNKED" and through zlib when
// they name gzip or deflate. A response without "HTTP/" is stored whole.
class ResponseReader {
public:
    using Sink = std::function<void(std::string_view)>;

    // ResponseState: 0 nothing received yet; 1 raw; 2 headers split off, plain
    // body; 3 headers split off, chunked body.
    int state() const { return m_state; }
    // "http/0.9", "http/1.x" or "http/1.*" as the state stands.
    const char* kindText() const;
    // Status line and header lines, including the CR LF of the last one, cut to
    // 2,048 characters.
    const std::string& headerText() const { return m_header; }

    // Back to the first state, for the next fetch.
    void reset();
    // One received block: the bytes to store go to the sink.
    void feed(std::string_view block, const Sink& sink);
    // The connection closed: headers still waiting for their empty line are not
    // headers after all, and are stored as they came.
    void finish(const Sink& sink);

    static constexpr std::size_t kHeaderWidth = 2048;
    // Headers are gathered across blocks up to this size; a response whose empty
    // line has not come by then is stored raw.
    static constexpr std::size_t kHeaderLimit = 65536;

private:
    void split(const Sink& sink);
    void body(std::string_view bytes, const Sink& sink);
    void decoded(std::string_view bytes, const Sink& sink);

    int m_state = 0;
    bool m_gathering = false; // "HTTP/" seen (or not yet decidable), no empty line yet
    std::string m_pending;    // the gathered start of the response
    std::string m_header;
    ChunkDecoder m_chunks;
    std::unique_ptr<BodyInflater> m_inflater;
};

} // namespace tools::http
