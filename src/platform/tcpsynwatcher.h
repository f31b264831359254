#pragma once
#include "platform/tcpsyn.h"
#include "platform/winsock.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace win {

// Watches the SYNs that reach this host's TCP ports, through a raw IPv4 or IPv6
// socket of the socket layer (one family a watcher): its arrivals are told to a window as FD_READ like any other
// socket's (WSAAsyncSelect, on the window's own thread where it has a poll group).
// A raw TCP socket is offered a segment after the firewall has let it in and just
// before TCP takes it, so it sees exactly what a listener would be offered; the
// kernel filter keeps everything but SYNs to the watched ports out of its queue,
// so other traffic wakes nobody. Only a process with raw socket rights (root, or
// the CAP_NET_RAW capability) may open one.
class TcpSynWatcher {
public:
    TcpSynWatcher() = default;
    ~TcpSynWatcher();
    TcpSynWatcher(const TcpSynWatcher&) = delete;
    TcpSynWatcher& operator=(const TcpSynWatcher&) = delete;

    // Opens the socket of `family` (AF_INET or AF_INET6), which lets nothing through
    // until watch(). 0, or the Winsock error: WSAEACCES without raw socket rights.
    int open(int family = AF_INET);
    bool isOpen() const { return m_socket != INVALID_SOCKET; }
    SOCKET socket() const { return m_socket; }
    // From now on only SYNs to `ports` are queued. 0, or the Winsock error.
    int watch(const std::vector<std::uint16_t>& ports);
    // Takes what is queued, at most `limit` segments, and appends the SYNs among them
    // to `out`; returns how many segments were taken. Re-enables FD_READ when done,
    // so a notification follows at once when more is waiting.
    std::size_t read(std::vector<TcpSyn>& out, std::size_t limit);
    void close();

private:
    int attach(const std::vector<std::uint16_t>& ports);

    SOCKET m_socket = INVALID_SOCKET;
    int m_family = AF_INET;
};

} // namespace win
