#pragma once
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tools::http {

// A body sent with "Content-Encoding: gzip" or "deflate", decoded as it arrives
// so the stored file is the page itself. "deflate" is taken with its zlib
// wrapper, or bare as some servers send it. Output goes to the sink in pieces
// of at most 64 KB, so a body that inflates a thousandfold is never held whole.
class BodyInflater {
public:
    enum class Coding { Gzip, Deflate };
    using Sink = std::function<void(std::string_view)>;

    explicit BodyInflater(Coding coding);
    ~BodyInflater();
    BodyInflater(const BodyInflater&) = delete;
    BodyInflater& operator=(const BodyInflater&) = delete;

    void feed(std::string_view data, const Sink& sink);
    // The stream was damaged: what came before was handed on, the rest is not
    // decodable and is dropped.
    bool failed() const { return m_failed; }
    bool finished() const { return m_finished; }
    // Decodes nothing more, also in the middle of a feed: the sink has had enough.
    void stop() { m_stopped = true; }

private:
    struct Stream;
    bool start(int windowBits);

    Coding m_coding;
    std::unique_ptr<Stream> m_stream;
    std::string m_head; // the first byte of a deflate body, until the second comes
    bool m_started = false;
    bool m_failed = false;
    bool m_finished = false;
    bool m_stopped = false;
};

} // namespace tools::http
