#include "tools/plain/ws_udp.h"

#include "net/receivedtext.h"
#include "net/socketaddress.h"
#include "net/soundcue.h"
#include "platform/text.h"

#include <cstring>

namespace tools {

WS_Udp::WS_Udp() : PlainServer("WS_Udp", "UDP", 8000, SOCK_DGRAM, 74) {}

void WS_Udp::beforeBind() {
    // Lets a second server share the port; set whether or not the socket was made,
    // and its result is of no interest.
    const int on = 1;
    win::setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on),
                    sizeof on);
}

void WS_Udp::onReadEvent(win::SOCKET notified) {
    countHit();
    char buffer[1025] = {};
    net::SocketAddress sender;
    int length = net::SocketAddress::capacity();
    int n = win::recvfrom(ownSocket(notified), buffer, 1024, 0, sender.data(), &length);
    // A datagram longer than the buffer still arrives: its first 1,024 bytes are
    // in the buffer, more than the line can show.
    if (n < 0 && win::WSAGetLastError() == win::WSAEMSGSIZE) n = 1024;
    if (n <= 0) return;
    m_clientAddress = sender.text();
    const std::string received = net::receivedText({buffer, static_cast<std::size_t>(n)});
    m_log.add(text::trimRight(m_clientAddress) + " " + received);
    net::PlayCue(*this, "Click.wav");
}

} // namespace tools
