#pragma once
// Who holds a local port: the processes behind the sockets bound to it, in both
// families. One object serves a run of questions (a whole port check): the kernel's
// socket list and the pass over /proc are taken once, at the first question, and
// again only for a port or socket that came after them.
#include "platform/portsockets.h"
#include "platform/socketprocesses.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <sys/socket.h>

namespace win {

// What holds one port.
struct HeldPort {
    std::vector<PortHolder> processes; // by pid, each once
    // A socket whose process this user may not see.
    bool otherUser = false;
    // The kernel's states of sockets no process holds (TIME_WAIT, a kernel socket's
    // LISTEN), each once.
    std::vector<std::string> unheld;
};

class PortHolders {
public:
    explicit PortHolders(int socketType, PortSockets::Source source = PortSockets::Source::Kernel);

    // `family` AF_INET6 asks about the IPv6 side alone: the sockets that take
    // IPv6; AF_UNSPEC about both.
    HeldPort find(std::uint16_t port, int family = AF_UNSPEC);

private:
    void readSockets();
    std::vector<PortSocket> socketsOn(std::uint16_t port, int family) const;

    int m_type;
    PortSockets::Source m_source;
    bool m_socketsRead = false;
    std::unordered_multimap<std::uint16_t, PortSocket> m_sockets;
    std::optional<SocketProcesses> m_processes;
    // The processes were read after the sockets last were.
    bool m_processesCurrent = false;
    std::unordered_map<int, PortHolder> m_described;
};

} // namespace win
