#include "tools/blockers/halfopenwatch.h"

#include "ui/toolwindow.h"

#include <poll.h>

namespace tools {
namespace {

// Segments taken per notification: a flood is read in slices, so that the window's
// other events get their turn in between.
constexpr std::size_t kReadSlice = 256;
// The whole queue, which the receive buffer bounds.
constexpr std::size_t kDrainAll = ~std::size_t(0);

std::uint16_t ownPort(win::SOCKET s) {
    win::sockaddr_in own{};
    int length = sizeof own;
    if (win::getsockname(s, reinterpret_cast<win::sockaddr*>(&own), &length) != 0) return 0;
    return win::ntohs(own.sin_port);
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

int HalfOpenWatch::start(ui::ToolWindow& window, const win::SOCKET* sockets, std::size_t count) {
    m_window = &window;
    m_tracker.clear();
    m_ports.clear();
    m_portOf.clear();
    // Only a socket that really listens: a SYN to a port whose bind failed goes to
    // another program, and is no probe of ours.
    for (std::size_t i = 0; i < count; ++i) {
        if (sockets[i] == win::INVALID_SOCKET || !isListening(sockets[i])) continue;
        if (const std::uint16_t port = ownPort(sockets[i]); port != 0) {
            m_ports.try_emplace(port, Port{i, sockets[i]});
            m_portOf.try_emplace(sockets[i], port);
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
    if (!m_watcher.isOpen()) {
        if (const int error = m_watcher.open(); error != 0) return error;
        if (win::WSAAsyncSelect(m_watcher.socket(), window.hwnd(), HalfOpenMessage, win::FD_READ) !=
            0) {
            const int error = win::WSAGetLastError();
            m_watcher.close();
            return error;
        }
    }
    std::vector<std::uint16_t> ports;
    for (const auto& [port, where] : m_ports)
        ports.push_back(port);
    if (const int error = m_watcher.watch(ports); error != 0) {
        m_watcher.close();
        return error;
    }
    return 0;
}

void HalfOpenWatch::stop() {
    m_watcher.close();
    m_tracker.clear();
    m_ports.clear();
    m_portOf.clear();
    if (m_ticking && m_window) m_window->setTimer(0);
    m_ticking = false;
}

bool HalfOpenWatch::handle(ui::ToolWindow&, const win::Message& message, win::LRESULT&) {
    if (message.msg != HalfOpenMessage) return false;
    // Read whatever the notification says: the read is what re-enables it.
    take(kReadSlice);
    startTicking();
    return true;
}

void HalfOpenWatch::take(std::size_t limit) {
    m_syns.clear();
    m_watcher.read(m_syns, limit);
    const auto now = HalfOpenTracker::Clock::now();
    for (const win::TcpSyn& syn : m_syns) {
        // Queued before a Reload changed the ports, or let through by a filter that
        // could not name them all.
        if (m_ports.count(syn.localPort) == 0) continue;
        if (const auto givenUp = m_tracker.syn({syn.peer, syn.peerPort, syn.localPort}, now))
            report(*givenUp);
    }
}

void HalfOpenWatch::accepted(win::SOCKET listener, const win::sockaddr_in& peer) {
    if (!m_watcher.isOpen()) return;
    // The SYN of this connection reached the raw socket before TCP saw it, so it is
    // queued there if not read yet; the window may well be told of the connection
    // first. Taken now, it is cleared below rather than found pending later and
    // told as a probe.
    take(kDrainAll);
    const auto port = m_portOf.find(listener);
    if (port == m_portOf.end()) return;
    m_tracker.accepted({peer.sin_addr.s_addr, win::ntohs(peer.sin_port), port->second});
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
    const auto it = m_ports.find(port);
    if (it == m_ports.end()) return false;
    pollfd p{int(it->second.listener), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

void HalfOpenWatch::report(const HalfOpenTracker::Attempt& attempt) {
    const auto it = m_ports.find(attempt.localPort);
    if (it == m_ports.end()) return;
    win::sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = attempt.peer;
    peer.sin_port = win::htons(attempt.peerPort);
    m_onProbe(it->second.slot, peer);
}

} // namespace tools
