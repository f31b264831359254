#include "platform/portsockets.h"

#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <memory>

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace win {
namespace {

// A dump's messages come in batches the kernel sizes to the reader's buffer, at
// most 32 KiB each; a larger buffer never sees one cut short.
constexpr std::size_t kDumpBuffer = 64 * 1024;

struct Descriptor {
    int fd;
    explicit Descriptor(int f) : fd(f) {}
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

} // namespace

std::string PortSockets::stateName(int state) {
    // The kernel's own names (include/net/tcp_states.h), UDP's included: an
    // unconnected UDP socket is CLOSE there.
    static const std::array<const char*, 14> names = {
        "UNKNOWN",   "ESTABLISHED", "SYN_SENT", "SYN_RECV",      "FIN_WAIT1",
        "FIN_WAIT2", "TIME_WAIT",   "CLOSE",    "CLOSE_WAIT",    "LAST_ACK",
        "LISTEN",    "CLOSING",     "SYN_RECV", "BOUND_INACTIVE"};
    return state >= 0 && state < int(names.size()) ? names[std::size_t(state)] : "UNKNOWN";
}

std::vector<PortSocket> PortSockets::read(int socketType, Source source) {
    const bool tcp = socketType == SOCK_STREAM;
    std::vector<PortSocket> all;
    for (const int family : {AF_INET, AF_INET6}) {
        std::optional<std::vector<PortSocket>> part;
        if (source == Source::Kernel) part = readDiag(family, tcp ? IPPROTO_TCP : IPPROTO_UDP);
        if (!part) {
            const std::string file =
                std::string("/proc/net/") + (tcp ? "tcp" : "udp") + (family == AF_INET6 ? "6" : "");
            part = readProcNet(file, family);
        }
        if (part) all.insert(all.end(), part->begin(), part->end());
    }
    return all;
}

std::optional<std::vector<PortSocket>> PortSockets::readDiag(int family, int protocol) {
    Descriptor nl(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (nl.fd < 0) return std::nullopt;
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    message.header.nlmsg_seq = 1;
    message.request.sdiag_family = std::uint8_t(family);
    message.request.sdiag_protocol = std::uint8_t(protocol);
    // Every state, the bound sockets that neither listen nor connect among them
    // (kernels from 6.5 list those on request; older ones ignore the bit).
    message.request.idiag_states = ~0U;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(nl.fd, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) != ssize_t(sizeof message))
        return std::nullopt;

    std::vector<PortSocket> found;
    // nlmsghdr alignment for the messages read into it.
    auto buffer = std::make_unique<std::uint32_t[]>(kDumpBuffer / sizeof(std::uint32_t));
    for (;;) {
        const ssize_t n = ::recv(nl.fd, buffer.get(), kDumpBuffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        int left = int(n);
        for (auto* h = reinterpret_cast<nlmsghdr*>(buffer.get()); NLMSG_OK(h, left);
             h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_type == NLMSG_DONE) return found;
            // The family or protocol has no diagnostics here (a module not loaded,
            // IPv6 switched off): the caller reads /proc/net instead.
            if (h->nlmsg_type == NLMSG_ERROR) return std::nullopt;
            if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
                h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
                continue;
            const auto* m = static_cast<const inet_diag_msg*>(NLMSG_DATA(h));
            found.push_back({m->idiag_family, ntohs(m->id.idiag_sport), m->idiag_state,
                             m->idiag_uid, m->idiag_inode});
        }
    }
}

std::optional<std::vector<PortSocket>> PortSockets::readProcNet(const std::string& file,
                                                                int family) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(file.c_str(), "re"), std::fclose);
    if (!in) return std::nullopt;
    std::vector<PortSocket> found;
    char line[512];
    // The first line names the columns.
    if (!std::fgets(line, sizeof line, in.get())) return found;
    while (std::fgets(line, sizeof line, in.get())) {
        // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid
        // timeout inode, addresses and ports in hexadecimal.
        unsigned port = 0, state = 0, uid = 0;
        std::uint64_t inode = 0;
        if (std::sscanf(
                line,
                " %*d: %*[0-9A-Fa-f]:%x %*[0-9A-Fa-f]:%*x %x %*x:%*x %*x:%*x %*x %u %*d %" SCNu64,
                &port, &state, &uid, &inode) == 4)
            found.push_back({family, std::uint16_t(port), int(state), uid, inode});
    }
    return found;
}

} // namespace win
