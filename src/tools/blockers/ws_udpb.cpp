#include "tools/blockers/ws_udpb.h"

#include "net/receivedtext.h"

#include <cstring>

namespace tools {
namespace {

const PortBlocker::Traits kTraits{"WS_UdpB",
                                  "UDP",
                                  "Udp block",
                                  "Varlo.udp",
                                  SOCK_DGRAM,
                                  WS_UdpB::IgnoreLocal,
                                  WS_UdpB::Edit,
                                  WS_UdpB::AlarmFile,
                                  WS_UdpB::SoundSwitch,
                                  WS_UdpB::Reload};

} // namespace

WS_UdpB::WS_UdpB() : PortBlocker(kTraits, makeDefinition()) {}

ui::WindowDefinition WS_UdpB::makeDefinition() {
    using K = ui::ControlKind;
    return PortBlocker::makeDefinition(
        "UDP", "UDP blocker", 29,
        {control(Edit, K::Button, "Edit", {1, 2, 1, 1}), alarmEntry(AlarmFile, {2, 1, 1, 1}),
         control(IgnoreLocal, K::CheckBox, "ignore local ip", {1, 1, 1, 1}),
         control(SoundSwitch, K::CheckBox, "sound", {2, 2, 1, 1}),
         control(Frame, K::Group, "", {1, 1, 3, 2}),
         control(Reload, K::Button, "Reload", {3, 2, 1, 1})});
}

void WS_UdpB::onRead(win::SOCKET notified) {
    // One datagram per event, from the socket earliest in the list among those
    // with one waiting. Each datagram counts once, so the count is of probes rather
    // than of notifications (one may find its datagram taken by an earlier event).
    for (const Announced& a : announcedSockets(win::FD_READ)) {
        char buffer[1025] = {};
        net::SocketAddress sender;
        int length = sender.capacity();
        int received = win::recvfrom(a.socket, buffer, 1024, 0, sender.data(), &length);
        // Too long for the buffer, it is a probe all the same: its first 1,024
        // bytes are there. An empty datagram is one too.
        if (received == win::SOCKET_ERROR && win::WSAGetLastError() == win::WSAEMSGSIZE)
            received = 1024;
        if (received < 0) continue;
        keepNotified(notified, a.socket);
        countHit();
        model().setCaption(blockerCaption() + " Hit:" + std::to_string(hits()));
        if (ignoredPeer(sender)) return;
        setClientAddress(sender);
        const std::string data = net::receivedText({buffer, static_cast<std::size_t>(received)});
        const PortRecord& record = portList()[a.slot];
        log().add(recordText(record) + " - " + clientAddress() + " " + data);
        alertHit(a.socket, record, sender);
        playAlarm();
        return;
    }
    // Nothing waiting: an earlier event took this notification's datagram.
}

} // namespace tools
