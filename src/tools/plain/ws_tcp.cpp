#include "tools/plain/ws_tcp.h"

#include "net/receivedtext.h"
#include "net/resetclosehook.h"
#include "net/socketaddress.h"
#include "net/soundcue.h"
#include "platform/cp1250.h"
#include "platform/text.h"

#include <cstring>

namespace tools {

WS_Tcp::WS_Tcp() : PlainServer("WS_Tcp", "TCP", 8010, SOCK_STREAM, 71) {}

void WS_Tcp::installHooks() {
    // A reset connection is closed like one its peer closed.
    installHook(std::make_shared<net::ResetCloseHook>());
}

void WS_Tcp::afterBind() {
    m_log.add("socket to listen...");
    if (win::listen(m_socket, 1) != 0) report();
}

void WS_Tcp::onAcceptEvent(win::SOCKET notified) {
    net::SocketAddress peer;
    int length = net::SocketAddress::capacity();
    const win::SOCKET s = win::accept(ownSocket(notified), peer.data(), &length);
    if (s == win::INVALID_SOCKET) {
        const int error = win::WSAGetLastError();
        // Out of descriptors or buffers, each further connection fails alike
        // until one succeeds: said once.
        if (!net::AcceptExhaustion::is(error))
            reportCode(error);
        else if (m_exhaustion.report(error))
            reportCode(error);
        return;
    }
    m_exhaustion.accepted();
    m_clientSocket = s;
    m_connections.insert(s);
    m_clientAddress = peer.text();
    m_log.add(text::trimRight(m_clientAddress) + " accept #" + std::to_string(s));
    net::PlayCue(*this, "Click.wav");
}

void WS_Tcp::onReadEvent(win::SOCKET notified) {
    countHit();
    char buffer[1025] = {};
    // The connection that has the data, which need not be the newest one.
    const int n = win::recv(notified, buffer, 1024, 0);
    if (n <= 0) {
        report();
        return;
    }
    // Received data is shown whatever the size of the list: the limit is for the
    // server's own lines.
    m_log.addDirect(net::loweredText({buffer, static_cast<std::size_t>(n)}));
    net::PlayCue(*this, "Click.wav");
}

void WS_Tcp::onPeerCloseEvent(win::SOCKET notified) {
    // The connection whose peer closed; closing the newest instead would leave this
    // one open for ever and cut off a peer still talking.
    m_log.add("closing client socket...");
    if (win::closesocket(notified) != 0) report();
    m_connections.erase(notified);
    // The number is no longer ours: another window may be given it next, and a
    // later event here must not read from or close that window's socket.
    if (notified == m_clientSocket) m_clientSocket = win::INVALID_SOCKET;
}

void WS_Tcp::closeConnections() {
    // The connections go with the window; left open they would outlive it for
    // the rest of the process.
    for (win::SOCKET s : m_connections)
        win::closesocket(s);
    m_connections.clear();
    m_clientSocket = win::INVALID_SOCKET;
}

} // namespace tools
