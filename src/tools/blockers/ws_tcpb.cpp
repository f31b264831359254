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
          [this](std::size_t slot, const win::sockaddr_in& peer) { onHalfOpen(slot, peer); })) {}

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
    win::sockaddr_in peer{};
    std::size_t slot = 0;
    bool shed = false;
    for (const std::size_t i : announcedSlots(win::FD_ACCEPT)) {
        peer = {};
        int length = 16;
        const win::SOCKET s =
            win::accept(socketTable()[i], reinterpret_cast<win::sockaddr*>(&peer), &length);
        if (s == win::INVALID_SOCKET) {
            const int error = win::WSAGetLastError();
            // Anything else: that connection went before it could be taken.
            if (!net::AcceptExhaustion::is(error)) continue;
            if (m_exhaustion.report(error)) reportError(error);
            // Out of descriptors the probe was still taken and closed, its peer
            // known: a hit like any other. Out of buffers it waits in the queue and
            // is counted when it can be taken.
            if (peer.sin_family != AF_INET) return;
            shed = true;
        } else {
            m_exhaustion.accepted();
            m_clientSocket = s;
        }
        record = &portList()[i];
        slot = i;
        break;
    }
    // A notification whose connection an earlier event already took is no hit:
    // the count is of connections, so that it matches what the peers made.
    if (!record) return;
    // The listener names the port: a connection shed for want of a descriptor
    // has no socket of its own.
    m_halfOpen->accepted(socketTable()[slot], peer);
    keepNotified(notified, slot);
    countHit();
    model().setCaption(blockerCaption() + " Hit:" + std::to_string(hits()));
    const std::string address = dotted(peer.sin_addr);
    if (ignoredPeer(address)) {
        if (!shed) win::closesocket(m_clientSocket);
        m_clientSocket = win::INVALID_SOCKET;
        return;
    }
    setClientAddress(address, win::ntohs(peer.sin_port));
    if (shed) {
        log().add(recordText(*record) + " - " + clientAddress() + " not accepted");
    } else {
        log().add(recordText(*record) + " - " + clientAddress() + " accept #" +
                  std::to_string(m_clientSocket));
    }
    alertHit(socketTable()[slot], *record, address, win::ntohs(peer.sin_port));
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
    const int error = m_halfOpen->start(*this, socketTable().data(), slotCount());
    if (error == win::WSAEACCES)
        log().add(HalfOpenUnseen);
    else if (error != 0)
        log().add("half-open scans cannot be seen: " + net::WinsockErrorName(error));
}

void WS_TcpB::onTimer() {
    m_halfOpen->tick();
}

void WS_TcpB::onClose() {
    m_halfOpen->stop();
    PortBlocker::onClose();
}

void WS_TcpB::onHalfOpen(std::size_t slot, const win::sockaddr_in& peer) {
    countHit();
    model().setCaption(blockerCaption() + " Hit:" + std::to_string(hits()));
    const std::string address = dotted(peer.sin_addr);
    if (ignoredPeer(address)) return;
    setClientAddress(address, win::ntohs(peer.sin_port));
    log().add(recordText(portList()[slot]) + " - " + clientAddress() + " half-open");
    alertHit(socketTable()[slot], portList()[slot], address, win::ntohs(peer.sin_port), true);
    playAlarm();
}

} // namespace tools
