#pragma once
#include "net/eventlog.h"
#include "net/localhost.h"
#include "platform/winsock.h"
#include "ui/toolwindow.h"

#include <cstdint>
#include <string>

namespace tools {

// What the TCP and UDP servers share: the window with its one log list, the port
// from the start parameter, the start-up banner and captions, the socket made,
// bound by the retry rule and registered, its IPv6 twin on the port it took, the
// hit count, and the close.
class PlainServer : public ui::ToolWindow {
public:
    static constexpr int kLogList = 1;

    // The port a start parameter asks for; `fallback` for an empty text, 0, or a
    // number beyond 65535.
    static std::uint16_t portFromParameter(const std::string& parameter, std::uint16_t fallback);

    std::uint16_t serverPort() const { return m_serverPort; }

protected:
    // `prefix` is "TCP" or "UDP": the window's first caption and the start of the
    // later ones; `timeWidth` the time column's width in dialog units.
    PlainServer(std::string procedure, std::string prefix, std::uint16_t defaultPort,
                int socketType, int timeWidth);

    void onOpen() override;
    void onClose() override;
    void onUserEvent(int event, win::WPARAM wParam, win::LPARAM lParam) override;

    // After the server hook, the window's further hooks, if any.
    virtual void installHooks() {}
    // Between the socket's creation and its bind (the UDP server's option).
    virtual void beforeBind() {}
    // After the bind rule (the TCP server's listen).
    virtual void afterBind() {}
    // The socket events of the server hook, with the socket whose notification
    // raised them.
    virtual void onAcceptEvent(win::SOCKET /*notified*/) {}
    virtual void onReadEvent(win::SOCKET /*notified*/) {}
    virtual void onPeerCloseEvent(win::SOCKET /*notified*/) {}
    // At window close, after the server's own socket is closed.
    virtual void closeConnections() {}

    // Hits += 1, shown in the caption.
    void countHit();
    // A failed sockets call: its name as a log line and the error cue.
    void report();
    void reportCode(int code, const std::string& after = {});
    // The server's own socket that raised a notification: the IPv6 one, else the
    // IPv4 one.
    win::SOCKET ownSocket(win::SOCKET notified) const {
        return notified == m_socket6 && notified != win::INVALID_SOCKET ? m_socket6 : m_socket;
    }

    net::EventLog m_log;
    win::SOCKET m_socket = win::INVALID_SOCKET;  // ListenSocket, or the UDP server's socket
    win::SOCKET m_socket6 = win::INVALID_SOCKET; // its IPv6 twin, when it could be opened
    std::string m_clientAddress;                 // ClientAddress

private:
    static ui::WindowDefinition makeDefinition(const std::string& prefix, int timeWidth);
    void showPortCaption();
    void bindWithRetries();
    void openIpv6();

    std::string m_prefix;
    std::uint16_t m_defaultPort;
    int m_socketType;
    std::uint16_t m_serverPort = 0;
    std::int32_t m_hits = 0;
    net::LocalHost m_host;
};

} // namespace tools
