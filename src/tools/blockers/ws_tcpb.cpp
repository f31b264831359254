#include "tools/blockers/ws_tcpb.h"

#include "net/acceptexhaustion.h"
#include "net/receivedtext.h"
#include "net/winsockerror.h"
#include "platform/cp1250.h"
#include "platform/text.h"
#include "tools/blockers/halfopenwatch.h"

#include <cstring>

namespace tools {
namespace {

const PortBlocker::Traits kTraits{"WS_TcpB",
                                  "TCP",
                                  "Tcp block",
                                  "Varlo.tcp",
                                  SOCK_STREAM,
                                  WS_TcpB::IgnoreLocal,
                                  WS_TcpB::Edit,
                                  WS_TcpB::AlarmFile,
                                  WS_TcpB::SoundSwitch,
                                  WS_TcpB::Reload};

} // namespace

WS_TcpB::WS_TcpB()
    : PortBlocker(kTraits, makeDefinition()),
      m_halfOpen(std::make_shared<HalfOpenWatch>(
          [this](std::size_t slot, const net::SocketAddress& peer) { onHalfOpen(slot, peer); })) {}

WS_TcpB::~WS_TcpB() = default;

ui::WindowDefinition WS_TcpB::makeDefinition() {
    using K = ui::ControlKind;
    return PortBlocker::makeDefinition(
        "TCP", "TCP blocker", 30,
        {control(IgnoreLocal, K::CheckBox, "ignore local Ip", {1, 1, 1, 1}),
         control(Edit, K::Button, "Edit", {1, 2, 1, 1}), alarmEntry(AlarmFile, {2, 1, 1, 1}),
         control(SoundSwitch, K::CheckBox, "sound", {2, 2, 1, 1}),
         control(Frame, K::Group, "", {1, 1, 3, 2}),
         control(Reload, K::Button, "Reload", {3, 2, 1, 1})});
}

void WS_TcpB::afterBind(int slot, win::SOCKET s) {
    log().add("socket to listen[" + std::to_string(slot) + "]");
    // A queue of one connection made the kernel drop the probes of any burst
    // (a scan, several peers at once) before the window could see them; a trap
    // must log every probe, so the queue is as long as the system allows.
    if (win::listen(s, SOMAXCONN) != 0) reportError();
}

void WS_TcpB::onAccept(win::SOCKET notified) {
    // The search goes through the list in its order, over the sockets with a
    // connection waiting; the first that gives one ends it. Further connections
    // raise their own events.
    const PortRecord* record = nullptr;
    net::SocketAddress peer;
    win::SOCKET listener = win::INVALID_SOCKET;
    bool shed = false;
    for (const Announced& a : announcedSockets(win::FD_ACCEPT)) {
        peer = {};
        int length = peer.capacity();
        const win::SOCKET s = win::accept(a.socket, peer.data(), &length);
        if (s == win::INVALID_SOCKET) {
            const int error = win::WSAGetLastError();
            // Anything else: that connection went before it could be taken.
            if (!net::AcceptExhaustion::is(error)) continue;
            if (m_exhaustion.report(error)) reportError(error);
            // Out of descriptors the probe was still taken and closed, its peer
            // known: a hit like any other. Out of buffers it waits in the queue and
            // is counted when it can be taken.
            if (!peer.valid()) return;
            shed = true;
        } else {
            m_exhaustion.accepted();
            m_clientSocket = s;
        }
        record = &portList()[a.slot];
        listener = a.socket;
        break;
    }
    // A notification whose connection an earlier event already took is no hit:
    // the count is of connections, so that it matches what the peers made.
    if (!record) return;
    // The listener names the port: a connection shed for want of a descriptor
    // has no socket of its own.
    m_halfOpen->accepted(listener, peer);
    keepNotified(notified, listener);
    countHit();
    model().setCaption(blockerCaption() + " Hit:" + std::to_string(hits()));
    if (ignoredPeer(peer)) {
        if (!shed) win::closesocket(m_clientSocket);
        m_clientSocket = win::INVALID_SOCKET;
        return;
    }
    setClientAddress(peer);
    if (shed) {
        log().add(recordText(*record) + " - " + clientAddress() + " not accepted");
    } else {
        log().add(recordText(*record) + " - " + clientAddress() + " accept #" +
                  std::to_string(m_clientSocket));
    }
    alertHit(listener, *record, peer);
    if (!shed) closeClient();
    playAlarm();
}

void WS_TcpB::onRead(win::SOCKET) {
    countHit();
    // The port of the record set up last, whichever port was hit.
    model().setCaption("TCP - " + text::trimRight(host().name) + ":" +
                       std::to_string(currentPort()) + " (Hit:" + std::to_string(hits()) + ")");
    char buffer[1025] = {};
    const int received = win::recv(m_clientSocket, buffer, 1024, 0);
    if (received <= 0) {
        reportError();
        return;
    }
    log().addDirect(net::loweredText({buffer, static_cast<std::size_t>(received)}));
    closeClient();
}

void WS_TcpB::onClientClose() {
    closeClient();
}

void WS_TcpB::closeClient() {
    log().add("closing client socket...");
    const int result = win::closesocket(m_clientSocket);
    // Forgotten at once: the number may soon name another socket, which a late
    // read or close event must never touch.
    m_clientSocket = win::INVALID_SOCKET;
    if (result != 0) reportError();
}

// --- half-open probes -------------------------------------------------------------

void WS_TcpB::afterSetUp() {
    int family = AF_INET;
    const int error = m_halfOpen->start(*this, socketTable().data(), socketTable6().data(),
                                        slotCount(), &family);
    if (error == win::WSAEACCES && family == AF_INET)
        log().add(HalfOpenUnseen);
    else if (error != 0)
        log().add("half-open scans cannot be seen: " + net::WinsockErrorName(error) +
                  (family == AF_INET6 ? " (IPv6)" : ""));
}

void WS_TcpB::onTimer() {
    m_halfOpen->tick();
}

void WS_TcpB::onClose() {
    m_halfOpen->stop();
    PortBlocker::onClose();
}

void WS_TcpB::onHalfOpen(std::size_t slot, const net::SocketAddress& peer) {
    countHit();
    model().setCaption(blockerCaption() + " Hit:" + std::to_string(hits()));
    if (ignoredPeer(peer)) return;
    setClientAddress(peer);
    log().add(recordText(portList()[slot]) + " - " + clientAddress() + " half-open");
    // The syslog line names the port the probe asked for: that of the record's
    // socket of the probe's family, or of the other where only one traps.
    win::SOCKET local = peer.isV6() ? socketTable6()[slot] : socketTable()[slot];
    if (local == win::INVALID_SOCKET)
        local = peer.isV6() ? socketTable()[slot] : socketTable6()[slot];
    alertHit(local, portList()[slot], peer, true);
    playAlarm();
}

} // namespace tools
