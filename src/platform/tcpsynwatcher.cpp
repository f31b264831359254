#include "platform/tcpsynwatcher.h"

#include "platform/asyncselectpoller.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <netinet/in.h>

#include <sys/socket.h>

namespace win {
namespace {

constexpr std::size_t kBatch = 64;
// A SYN flood must not overflow the queue while the window is busy logging: every
// segment lost there is a probe never counted. A trimmed segment still costs the
// queue the whole buffer it arrived in (about 1 kB on loopback).
constexpr int kReceiveBuffer = 4 << 20;

} // namespace

TcpSynWatcher::~TcpSynWatcher() {
    close();
}

int TcpSynWatcher::open(int family) {
    close();
    const SOCKET s = win::socket(family, SOCK_RAW, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return WSAGetLastError();
    m_socket = s;
    m_family = family;
    // Raw socket rights go with the right to a larger queue than the system's
    // ceiling; without it the ceiling is what there is.
    const int size = kReceiveBuffer;
    const char* value = reinterpret_cast<const char*>(&size);
    if (win::setsockopt(s, SOL_SOCKET, SO_RCVBUFFORCE, value, sizeof size) != 0)
        win::setsockopt(s, SOL_SOCKET, SO_RCVBUF, value, sizeof size);
    if (const int error = attach({}); error != 0) {
        close();
        return error;
    }
    // What arrived before the filter was in place passed unfiltered.
    char junk[SynSnapLength];
    while (::recv(int(s), junk, sizeof junk, MSG_DONTWAIT) >= 0) {
    }
    return 0;
}

int TcpSynWatcher::watch(const std::vector<std::uint16_t>& ports) {
    if (!isOpen()) return WSAENOTSOCK;
    return attach(ports);
}

int TcpSynWatcher::attach(const std::vector<std::uint16_t>& ports) {
    std::vector<sock_filter> code = m_family == AF_INET6 ? synFilter6(ports) : synFilter(ports);
    const sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    if (win::setsockopt(m_socket, SOL_SOCKET, SO_ATTACH_FILTER,
                        reinterpret_cast<const char*>(&program), sizeof program) != 0)
        return WSAGetLastError();
    return 0;
}

std::size_t TcpSynWatcher::read(std::vector<TcpSyn>& out, std::size_t limit) {
    if (!isOpen()) return 0;
    const int fd = int(m_socket);
    std::size_t taken = 0;
    while (taken < limit) {
        // Several segments a call: under a flood the system calls, not the segments,
        // are what costs.
        std::uint8_t buffers[kBatch][SynSnapLength];
        iovec vectors[kBatch];
        mmsghdr messages[kBatch] = {};
        // An IPv6 segment comes without its IP header: the sender is told apart.
        sockaddr_in6 senders[kBatch];
        const bool v6 = m_family == AF_INET6;
        const std::size_t want = std::min(kBatch, limit - taken);
        for (std::size_t i = 0; i < want; ++i) {
            vectors[i] = {buffers[i], SynSnapLength};
            messages[i].msg_hdr.msg_iov = &vectors[i];
            messages[i].msg_hdr.msg_iovlen = 1;
            if (v6) {
                messages[i].msg_hdr.msg_name = &senders[i];
                messages[i].msg_hdr.msg_namelen = sizeof senders[i];
            }
        }
        const int n = ::recvmmsg(fd, messages, static_cast<unsigned>(want), MSG_DONTWAIT, nullptr);
        if (n <= 0) break;
        for (int i = 0; i < n; ++i) {
            std::optional<TcpSyn> syn;
            if (!v6) {
                syn = parseIncomingSyn(buffers[i], messages[i].msg_len);
            } else if (messages[i].msg_hdr.msg_namelen >= sizeof(sockaddr_in6)) {
                std::array<std::uint8_t, 16> peer;
                std::memcpy(peer.data(), &senders[i].sin6_addr, peer.size());
                syn = parseIncomingSyn6(buffers[i], messages[i].msg_len, peer);
            }
            if (syn) out.push_back(*syn);
        }
        taken += static_cast<std::size_t>(n);
        // Fewer than asked for: the queue is empty, and a segment that comes now
        // finds FD_READ enabled again.
        if (static_cast<std::size_t>(n) < want) break;
    }
    AsyncSelectPoller::instance().reenable(fd, FD_READ);
    return taken;
}

void TcpSynWatcher::close() {
    if (m_socket == INVALID_SOCKET) return;
    win::closesocket(m_socket);
    m_socket = INVALID_SOCKET;
}

} // namespace win
