#include "tools/blockers/halfopenwatch.h"

#include "ui/toolwindow.h"

#include <cstring>

#include <poll.h>

namespace tools {
namespace {

// Segments taken per notification: a flood is read in slices, so that the window's
// other events get their turn in between.
constexpr std::size_t kReadSlice = 256;
// The whole queue, which the receive buffer bounds.
constexpr std::size_t kDrainAll = ~std::size_t(0);

std::uint16_t ownPort(win::SOCKET s) {
    net::SocketAddress own;
    int length = own.capacity();
    if (win::getsockname(s, own.data(), &length) != 0) return 0;
    return own.port();
}

bool isListening(win::SOCKET s) {
    int listening = 0;
    int length = sizeof listening;
    return win::getsockopt(s, SOL_SOCKET, SO_ACCEPTCONN, reinterpret_cast<char*>(&listening),
                           &length) == 0 &&
           listening != 0;
}

} // namespace

HalfOpenWatch::HalfOpenWatch(ProbeHandler onProbe) : m_onProbe(std::move(onProbe)) {}

int HalfOpenWatch::start(ui::ToolWindow& window, const win::SOCKET* sockets,
                         const win::SOCKET* sockets6, std::size_t count, int* failedFamily) {
    m_window = &window;
    m_tracker.clear();
    m_ports.clear();
    m_portOf.clear();
    // Only a socket that really listens: a SYN to a port whose bind failed goes to
    // another program, and is no probe of ours.
    std::vector<std::uint16_t> ports[2];
    for (std::size_t i = 0; i < count; ++i) {
        const win::SOCKET both[2] = {sockets[i], sockets6[i]};
        for (int family = 0; family < 2; ++family) {
            const win::SOCKET s = both[family];
            if (s == win::INVALID_SOCKET || !isListening(s)) continue;
            const std::uint16_t port = ownPort(s);
            if (port == 0) continue;
            Port& entry =
                m_ports.try_emplace(port, Port{i, {win::INVALID_SOCKET, win::INVALID_SOCKET}})
                    .first->second;
            // A duplicate record's port belongs to the record that got it first.
            if (entry.slot != i || entry.listener[family] != win::INVALID_SOCKET) continue;
            entry.listener[family] = s;
            m_portOf.try_emplace(s, port);
            ports[family].push_back(port);
        }
    }
    if (m_ports.empty()) {
        stop();
        return 0;
    }
    if (!m_hooked) {
        window.installHook(shared_from_this());
        m_hooked = true;
    }
    for (int family = 0; family < 2; ++family) {
        if (ports[family].empty()) {
            m_watchers[family].close();
            continue;
        }
        if (const int error = watch(family, ports[family]); error != 0) {
            if (failedFamily) *failedFamily = family == 0 ? AF_INET : AF_INET6;
            return error;
        }
    }
    return 0;
}

int HalfOpenWatch::watch(int family, const std::vector<std::uint16_t>& ports) {
    win::TcpSynWatcher& watcher = m_watchers[family];
    if (!watcher.isOpen()) {
        if (const int error = watcher.open(family == 0 ? AF_INET : AF_INET6); error != 0)
            return error;
        if (win::WSAAsyncSelect(watcher.socket(), m_window->hwnd(), HalfOpenMessage,
                                win::FD_READ) != 0) {
            const int error = win::WSAGetLastError();
            watcher.close();
            return error;
        }
    }
    if (const int error = watcher.watch(ports); error != 0) {
        watcher.close();
        return error;
    }
    return 0;
}

void HalfOpenWatch::stop() {
    for (auto& watcher : m_watchers)
        watcher.close();
    m_tracker.clear();
    m_ports.clear();
    m_portOf.clear();
    if (m_ticking && m_window) m_window->setTimer(0);
    m_ticking = false;
}

bool HalfOpenWatch::handle(ui::ToolWindow&, const win::Message& message, win::LRESULT&) {
    if (message.msg != HalfOpenMessage) return false;
    // Read whatever the notification says: the read is what re-enables it.
    const auto s = static_cast<win::SOCKET>(message.wParam);
    for (int family = 0; family < 2; ++family)
        if (m_watchers[family].isOpen() && m_watchers[family].socket() == s)
            take(family, kReadSlice);
    startTicking();
    return true;
}

void HalfOpenWatch::take(int family, std::size_t limit) {
    m_syns.clear();
    m_watchers[family].read(m_syns, limit);
    const auto now = HalfOpenTracker::Clock::now();
    for (const win::TcpSyn& syn : m_syns) {
        // Queued before a Reload changed the ports, or let through by a filter that
        // could not name them all.
        const auto port = m_ports.find(syn.localPort);
        if (port == m_ports.end() || port->second.listener[family] == win::INVALID_SOCKET)
            continue;
        HalfOpenTracker::Attempt attempt{syn.peer, syn.peerPort, syn.localPort};
        attempt.v6 = syn.v6;
        attempt.peer6 = syn.peer6;
        if (const auto givenUp = m_tracker.syn(attempt, now)) report(*givenUp);
    }
}

void HalfOpenWatch::accepted(win::SOCKET listener, const net::SocketAddress& peer) {
    const int family = peer.isV6() ? 1 : 0;
    if (!m_watchers[family].isOpen()) return;
    // The SYN of this connection reached the raw socket before TCP saw it, so it is
    // queued there if not read yet; the window may well be told of the connection
    // first. Taken now, it is cleared below rather than found pending later and
    // told as a probe.
    take(family, kDrainAll);
    const auto port = m_portOf.find(listener);
    if (port == m_portOf.end()) return;
    HalfOpenTracker::Attempt attempt{peer.v4Address(), peer.port(), port->second};
    if (family == 1) {
        attempt.v6 = true;
        std::memcpy(attempt.peer6.data(),
                    &reinterpret_cast<const win::sockaddr_in6*>(peer.data())->sin6_addr, 16);
    }
    m_tracker.accepted(attempt);
    startTicking();
}

void HalfOpenWatch::tick() {
    const auto probes = m_tracker.expire(HalfOpenTracker::Clock::now(), [this](std::uint16_t port) {
        return connectionWaiting(port);
    });
    for (const auto& probe : probes)
        report(probe);
    if (m_tracker.pending() == 0 && m_ticking && m_window) {
        m_window->setTimer(0);
        m_ticking = false;
    }
}

void HalfOpenWatch::startTicking() {
    // Started once and left running until nothing is pending: a timer restarted
    // for every connection would cost more than the ticks.
    if (m_ticking || m_tracker.pending() == 0 || !m_window) return;
    m_window->setTimer(TickHundredths);
    m_ticking = true;
}

bool HalfOpenWatch::connectionWaiting(std::uint16_t port) const {
    // Asked by port alone: a connection of either family holds the port's attempts.
    const auto it = m_ports.find(port);
    if (it == m_ports.end()) return false;
    pollfd p[2];
    nfds_t n = 0;
    for (const win::SOCKET s : it->second.listener)
        if (s != win::INVALID_SOCKET) p[n++] = pollfd{int(s), POLLIN, 0};
    if (::poll(p, n, 0) <= 0) return false;
    for (nfds_t i = 0; i < n; ++i)
        if (p[i].revents & POLLIN) return true;
    return false;
}

void HalfOpenWatch::report(const HalfOpenTracker::Attempt& attempt) {
    const auto it = m_ports.find(attempt.localPort);
    if (it == m_ports.end()) return;
    net::SocketAddress peer = net::SocketAddress::v4(attempt.peer, attempt.peerPort);
    if (attempt.v6) {
        win::sockaddr_in6 six{};
        six.sin6_family = AF_INET6;
        six.sin6_port = win::htons(attempt.peerPort);
        std::memcpy(&six.sin6_addr, attempt.peer6.data(), 16);
        peer = net::SocketAddress(reinterpret_cast<const win::sockaddr*>(&six), sizeof six);
    }
    m_onProbe(it->second.slot, peer);
}

} // namespace tools
