#pragma once
#include "platform/winsock.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace net {

// Binds a server's socket to its port on every interface. A port in use moves the
// server on to the next one, ten times at most; after the tenth the port names the
// first one not tried and the bind is left undone, for the next step to report.
// There is no port after 65535: moving on would wrap to 0, which binds any free
// port while the caption claims port 0. say() gets each line to log, moved() runs
// after every move; each port found in use is followed by the lines naming who
// holds it, at most `width` characters each (the TCP and UDP servers' log width by
// default). Returns the error that stopped the attempts, 0 if none did.
int BindWithRetries(win::SOCKET socket, std::uint16_t& port,
                    const std::function<void(const std::string&)>& say,
                    const std::function<void()>& moved, std::size_t width = 80);

} // namespace net
