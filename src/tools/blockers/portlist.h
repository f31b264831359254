#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The port list files of the blockers ("Varlo.tcp", "Varlo.udp"): one record a
// line, "Port, Description", kept by the user in any text editor.
namespace tools {

struct PortRecord {
    std::string port;        // 10 characters, blank-padded: the text before the first comma
    std::string description; // 40 characters, blank-padded: the text after it
};

using PortList = std::vector<PortRecord>;

namespace portlist {

inline constexpr std::size_t FileLimit = 10240; // bytes of the file that are read
inline constexpr std::size_t LineLimit = 80;    // characters of a line that are split
inline constexpr std::size_t PortWidth = 10;
inline constexpr std::size_t DescriptionWidth = 40;
inline constexpr std::size_t SocketSlots = 100; // records that get a socket

// The records of a file's bytes. Only the first 10,240 bytes count, and the text
// ends at the first zero byte; lines split as text::ruleLines splits them (CR
// plus one more character, or a bare LF), so a last line without its ending is
// lost.
PortList load(std::string_view bytes);

// Up to 10,240 bytes of the file; empty when it cannot be opened or read.
std::string readFile(const std::string& path);

// Where a blocker looks for `fileName` and where "Edit" opens it: the current
// directory.
std::string path(const std::string& fileName);

// The record's port as the blocker reads it: the leading decimal digits after
// leading blanks, 0 when there are none. Not cut to 16 bits.
std::uint64_t portValue(const PortRecord& record);

} // namespace portlist
} // namespace tools
