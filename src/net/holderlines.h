#pragma once
// The lines that say who holds a port a bind found in use, written after the
// "in use" line or the WSAEADDRINUSE report:
//   "  held by nginx (pid 812, user www-data)"   one for each process
//   "  held by a process of another user"        one this user may not see
//   "  held by no process (TIME_WAIT)"            a socket no process holds, in the
//                                                 state the kernel names
// A line wider than the log goes on over further lines, broken at a blank and
// indented by four.
#include "platform/portholders.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace net {

class EventLog;

std::vector<std::string> holderLines(const win::HeldPort& held, std::size_t width);

// Adds the lines for `port` (its IPv6 side alone for AF_INET6) to `log`;
// `holders` may serve further ports.
void logHolders(EventLog& log, win::PortHolders& holders, std::uint16_t port,
                int family = AF_UNSPEC);

} // namespace net
