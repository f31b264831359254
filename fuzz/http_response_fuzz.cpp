// Responses come from any server: split into blocks anywhere, they must store
// the same bytes as in one block, and the chunk and gzip decoders must never
// crash or run away.
#include "tools/http/chunkdecoder.h"
#include "tools/http/responsereader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace tools::http;

namespace {

std::string stored(std::string_view response, std::size_t block) {
    ResponseReader reader;
    std::string out;
    auto sink = [&](std::string_view s) {
        out.append(s);
        if (out.size() > (64u << 20)) std::abort(); // inflation is bounded by the input here
    };
    for (std::size_t at = 0; at < response.size(); at += block)
        reader.feed(response.substr(at, block), sink);
    reader.finish(sink);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t block = 1 + data[0] % 64;
    const std::string_view response(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (stored(response, block) != stored(response, response.size() + 1)) std::abort();
    (void)HexToNumber(response);
    std::uint64_t value = 0;
    (void)ChunkDecoder::sizeOfLine(response, value);
    return 0;
}
