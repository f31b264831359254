#include "platform/portholders.h"

#include <algorithm>
#include <set>

#include <unistd.h>

namespace win {

PortHolders::PortHolders(int socketType, PortSockets::Source source)
    : m_type(socketType), m_source(source) {}

void PortHolders::readSockets() {
    m_sockets.clear();
    for (const PortSocket& s : PortSockets::read(m_type, m_source))
        m_sockets.emplace(s.port, s);
    m_socketsRead = true;
    m_processesCurrent = false;
}

std::vector<PortSocket> PortHolders::socketsOn(std::uint16_t port, int family) const {
    std::vector<PortSocket> on;
    const auto [first, last] = m_sockets.equal_range(port);
    for (auto it = first; it != last; ++it)
        if (family == AF_UNSPEC || it->second.family == family) on.push_back(it->second);
    return on;
}

HeldPort PortHolders::find(std::uint16_t port, int family) {
    if (!m_socketsRead) readSockets();
    std::vector<PortSocket> sockets = socketsOn(port, family);
    // Bound after the list was taken: a port check asks while it runs.
    if (sockets.empty()) {
        readSockets();
        sockets = socketsOn(port, family);
    }
    HeldPort held;
    std::set<int> pids;
    const uid_t self = ::geteuid();
    auto unheld = [&held](int stateNumber) {
        const std::string state = PortSockets::stateName(stateNumber);
        if (std::find(held.unheld.begin(), held.unheld.end(), state) == held.unheld.end())
            held.unheld.push_back(state);
    };
    for (const PortSocket& s : sockets) {
        if (s.inode == 0) {
            unheld(s.state);
            continue;
        }
        // The pass over /proc is made again only for a socket newer than it.
        if (!m_processes || (!m_processesCurrent && m_processes->holdersOf(s.inode).empty())) {
            m_processes.emplace();
            m_processesCurrent = true;
        }
        const std::vector<int>& holders = m_processes->holdersOf(s.inode);
        pids.insert(holders.begin(), holders.end());
        if (!holders.empty()) continue;
        // Nobody this user can see holds it: a process beyond this user's sight
        // (descriptors it may not read, or a /proc that hides other users), else a
        // socket of the kernel's own.
        if (m_processes->blind() || (self != 0 && s.uid != self))
            held.otherUser = true;
        else
            unheld(s.state);
    }
    for (const int pid : pids) {
        auto it = m_described.find(pid);
        if (it == m_described.end())
            it = m_described.emplace(pid, SocketProcesses::describe(pid)).first;
        // One that ended since the pass holds nothing now.
        if (!it->second.command.empty()) held.processes.push_back(it->second);
    }
    return held;
}

} // namespace win
