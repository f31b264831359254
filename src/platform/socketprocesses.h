#pragma once
// Which processes hold which sockets: one pass over the descriptors of every process
// under /proc, read as far as this user may.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace win {

// A process that holds a socket.
struct PortHolder {
    int pid = 0;
    std::string command; // its command name, as /proc/<pid>/comm has it
    std::string user;    // the name of its effective user, or the number without one
    bool operator==(const PortHolder&) const = default;
};

class SocketProcesses {
public:
    // Reads the descriptors of every process now.
    SocketProcesses();

    // The processes holding the socket with this inode, by pid.
    const std::vector<int>& holdersOf(std::uint64_t inode) const;
    // Some process's descriptors could not be read (another user's, for a user
    // without privileges): a socket no process was found for may be one of its.
    bool blind() const { return m_blind; }

    // The command name and user of a process; an empty command when it is gone.
    static PortHolder describe(int pid);

private:
    std::unordered_map<std::uint64_t, std::vector<int>> m_pidsOf;
    bool m_blind = false;
};

} // namespace win
