#pragma once
// The sockets of one protocol bound to local ports, IPv4 and IPv6 alike, as the
// kernel lists them: through its socket diagnostics (netlink sock_diag, as `ss`
// reads them), or from /proc/net where those cannot be asked.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace win {

// One socket with a local port.
struct PortSocket {
    int family = 0;          // AF_INET or AF_INET6
    std::uint16_t port = 0;  // the local port
    int state = 0;           // the kernel's state number (TCP's, which UDP shares)
    std::uint32_t uid = 0;   // who made it
    std::uint64_t inode = 0; // 0: no file, so no process, holds it (TIME_WAIT)
};

class PortSockets {
public:
    // Where the list comes from.
    enum class Source {
        Kernel,  // sock_diag, and /proc/net for a family it will not answer for
        ProcNet, // /proc/net/{tcp,tcp6,udp,udp6} only
    };

    // Every socket of `socketType` (SOCK_STREAM or SOCK_DGRAM) with a local port;
    // nothing when neither source can be read.
    static std::vector<PortSocket> read(int socketType, Source source = Source::Kernel);

    // The kernel's name of a state ("LISTEN", "TIME_WAIT", ...).
    static std::string stateName(int state);

private:
    static std::optional<std::vector<PortSocket>> readDiag(int family, int protocol);
    static std::optional<std::vector<PortSocket>> readProcNet(const std::string& file, int family);
};

} // namespace win
