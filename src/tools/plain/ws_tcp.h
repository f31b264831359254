#pragma once
#include "tools/plain/plainserver.h"

#include <set>

namespace tools {

// The TCP server: listens on one port, logs who connects and what they send, in
// lower case, and answers nothing. It acts on its newest connection only.
class WS_Tcp : public PlainServer {
public:
    WS_Tcp();

protected:
    void afterBind() override;
    void onAcceptEvent() override;
    void onReadEvent() override;
    void onPeerCloseEvent() override;
    void closeConnections() override;

private:
    win::SOCKET m_clientSocket = win::INVALID_SOCKET; // ClientSocket: the newest connection
    // Every accepted connection not closed yet, the newest among them: those a newer
    // one displaced are no longer acted on but are still ours to close.
    std::set<win::SOCKET> m_connections;
};

} // namespace tools
