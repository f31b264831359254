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
    for (const std::size_t i : announcedSlots(win::FD_READ)) {
        char buffer[1025] = {};
        win::sockaddr_in sender{};
        int length = 16;
        int received = win::recvfrom(socketTable()[i], buffer, 1024, 0,
                                     reinterpret_cast<win::sockaddr*>(&sender), &length);
        // Too long for the buffer, it is a probe all the same: its first 1,024
        // bytes are there. An empty datagram is one too.
        if (received == win::SOCKET_ERROR && win::WSAGetLastError() == win::WSAEMSGSIZE)
            received = 1024;
        if (received < 0) continue;
        keepNotified(notified, i);
        countHit();
        model().setCaption(blockerCaption() + " Hit:" + std::to_string(hits()));
        const std::string address = dotted(sender.sin_addr);
        if (ignoredPeer(address)) return;
        setClientAddress(address, win::ntohs(sender.sin_port));
        const std::string data = net::receivedText({buffer, static_cast<std::size_t>(received)});
        log().add(recordText(portList()[i]) + " - " + clientAddress() + " " + data);
        alertHit(socketTable()[i], portList()[i], address, win::ntohs(sender.sin_port));
        playAlarm();
        return;
    }
    // Nothing waiting: an earlier event took this notification's datagram.
}

} // namespace tools
