#pragma once
#include "tools/http/bodyinflater.h"
#include "tools/http/chunkdecoder.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tools::http {

// One response as its blocks arrive: the status and header lines split off when
// the response begins with "HTTP/", the body handed on to be stored, through
// the chunk decoder when the headers say "CODING: CHUNKED" and through zlib when
// they name gzip or deflate. A response without "HTTP/" is stored whole.
// A server is not trusted with the disk: a response that cannot make a whole,
// sane file is told by its fault, and from then on nothing more is stored.
class ResponseReader {
public:
    using Sink = std::function<void(std::string_view)>;

    enum class Fault {
        None,
        Status,        // a status that is not 2xx: the body is the server's error page
        HeaderTooLong, // "HTTP/" and no empty line within kHeaderLimit bytes
        Expanded,      // decoded past kExpandFloor and kExpandRatio times what came
        TooLarge,      // more to store than the ceiling
        BadCoding,     // a gzip or deflate stream, or a chunk size line, that is damaged
        CutInHeader,   // closed before the empty line that ends the headers
        Short,         // closed before Content-Length bytes of body came
        ChunksCut,     // closed before the last chunk
    };
    Fault fault() const { return m_fault; }
    // The status code of the status line, 0 when there is none to read.
    int status() const { return m_status; }
    // What the fault means, for the log: "" for none.
    std::string faultText() const;
    // Tests lower it to reach it quickly; the tool stores at most kStoredLimit.
    void setStoredLimit(std::uint64_t bytes) { m_storedLimit = bytes; }

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
    // The most one page may take on the disk.
    static constexpr std::uint64_t kStoredLimit = std::uint64_t{1} << 30;
    // Decoded output may pass this many times the bytes received only while it
    // is below the floor: real pages compress tenfold, bombs a thousandfold.
    static constexpr std::uint64_t kExpandRatio = 100;
    static constexpr std::uint64_t kExpandFloor = std::uint64_t{16} << 20;

private:
    void split(const Sink& sink);
    void body(std::string_view bytes, const Sink& sink);
    void decoded(std::string_view bytes, const Sink& sink);
    void emit(std::string_view bytes, const Sink& sink);
    void readHeader(const std::string& header);

    int m_state = 0;
    bool m_gathering = false; // "HTTP/" seen (or not yet decidable), no empty line yet
    std::string m_pending;    // the gathered start of the response
    std::string m_header;
    ChunkDecoder m_chunks;
    std::unique_ptr<BodyInflater> m_inflater;
    Fault m_fault = Fault::None;
    int m_status = 0;
    std::optional<std::uint64_t> m_contentLength;
    std::uint64_t m_received = 0; // body bytes as they came, before any decoding
    std::uint64_t m_stored = 0;
    std::uint64_t m_storedLimit = kStoredLimit;
};

} // namespace tools::http
