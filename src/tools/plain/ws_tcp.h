#pragma once
#include "net/acceptexhaustion.h"
#include "tools/plain/plainserver.h"

#include <set>

namespace tools {

// The TCP server: listens on one port, logs who connects and what they send, in
// lower case, and answers nothing. Reads and closes act on the connection whose
// notification raised them; ClientSocket is the newest connection.
class WS_Tcp : public PlainServer {
public:
    WS_Tcp();

protected:
    void installHooks() override;
    void afterBind() override;
    void onAcceptEvent(win::SOCKET notified) override;
    void onReadEvent(win::SOCKET notified) override;
    void onPeerCloseEvent(win::SOCKET notified) override;
    void closeConnections() override;

private:
    win::SOCKET m_clientSocket = win::INVALID_SOCKET; // ClientSocket: the newest connection
    // Every accepted connection not closed yet, the newest among them: each is
    // read and closed on its own notifications, and closed with the window.
    std::set<win::SOCKET> m_connections;
    net::AcceptExhaustion m_exhaustion;
};

} // namespace tools
