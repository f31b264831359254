#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tools::http {

// HexToNumber: at most the first 4 characters, upper-cased, trailing blanks
// removed; the k-th character from the right adds its digit value shifted left
// by 4k bits (OR). "0"-"9" give 0-9, a character above "@" its code minus 55,
// anything else 0.
std::uint16_t HexToNumber(std::string_view text);

// A chunked body decoded across the blocks it arrives in: a chunk whose data
// runs past the end of a block goes on in the next one, a size line may be cut
// by a block boundary and be of any length, and chunk extensions (";...") are
// ignored. The data bytes are handed to the sink as they are, NUL bytes too.
class ChunkDecoder {
public:
    using Sink = std::function<void(std::string_view)>;

    void reset();
    void feed(std::string_view block, const Sink& sink);
    // The last chunk and its trailers have been read; what follows is ignored.
    bool finished() const { return m_state == State::Done; }
    // A size line that is not a hexadecimal number ends the decoding: the bytes
    // after it cannot be told from data.
    bool broken() const { return m_state == State::Broken; }

    // The value of a size line: the text before ";", blanks around it ignored;
    // nothing when it is empty or not a hexadecimal number of at most 16 digits.
    static bool sizeOfLine(std::string_view line, std::uint64_t& size);

private:
    enum class State { SizeLine, Data, Trailer, Done, Broken };
    void endSizeLine();

    State m_state = State::SizeLine;
    std::string m_line; // the size or trailer line gathered so far
    std::uint64_t m_left = 0;
};

} // namespace tools::http
