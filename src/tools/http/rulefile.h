#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The raw HTTP client's two rule files in the current directory: the parse tags
// ("Varlo.stp") and the omit strings ("Varlo.omt"), one a line.
namespace tools::http::rulefile {

inline constexpr std::size_t FileLimit = 10240; // bytes of a file that are read
inline constexpr std::size_t TagWidth = 40;
inline constexpr std::size_t OmitWidth = 20;

// The lines of a file's bytes, upper-cased and cut to `width`. A line ends at a
// CR, which takes the character after it along (its LF), or at a LF alone, as
// the editors here write them; a last line without its end is not a line.
// Blanks around a line go (the first line keeps its leading ones); empty lines
// are skipped. Only the first 10,240 bytes count, and the text ends at a NUL.
std::vector<std::string> load(std::string_view bytes, std::size_t width);

// Up to 10,240 bytes of the file; nothing when it cannot be opened as a regular
// file (a pipe or a device put in its place is not waited on).
std::optional<std::string> readFile(const std::string& path);

} // namespace tools::http::rulefile
