#pragma once
#include <string>
#include <string_view>

// What the servers, traps and the client make of the bytes one receive gave them,
// before the log adds its time and cuts the line. Pure text work, kept apart so it
// is tested and fuzzed without sockets.
namespace net {

// The text ends at the first zero byte: the Windows program kept it in a C string.
std::string receivedText(std::string_view bytes);

// The TCP server and the TCP trap: blanks in front dropped and letters made lower
// case by the Windows-1250 pairs.
std::string loweredText(std::string_view bytes);

// The client's reply line: of the text, what comes before the first carriage return.
std::string replyLine(std::string_view bytes);

} // namespace net
