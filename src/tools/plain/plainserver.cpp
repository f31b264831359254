#include "tools/plain/plainserver.h"

#include "net/bindretry.h"
#include "net/holderlines.h"
#include "net/socketeventhook.h"
#include "net/winsockerror.h"
#include "platform/text.h"
#include "tools/plain/ipv6listener.h"
#include "tools/plain/porttext.h"

namespace tools {

PlainServer::PlainServer(std::string procedure, std::string prefix, std::uint16_t defaultPort,
                         int socketType, int timeWidth)
    : ToolWindow(std::move(procedure), makeDefinition(prefix, timeWidth)),
      m_log(model(), kLogList, 80, net::EventLog::Limit::EmptyAt250), m_prefix(std::move(prefix)),
      m_defaultPort(defaultPort), m_socketType(socketType) {}

ui::WindowDefinition PlainServer::makeDefinition(const std::string& prefix, int timeWidth) {
    ui::WindowDefinition d;
    d.caption = prefix;
    d.width = 400;
    d.height = 150;
    d.toolWindowStyle = true;
    ui::ControlDef list;
    list.number = kLogList;
    list.kind = ui::ControlKind::List;
    list.columns = {ui::ColumnDef{timeWidth, "", 20}, ui::ColumnDef{320, "", 80}};
    d.controls = {list};
    return d;
}

std::uint16_t PlainServer::portFromParameter(const std::string& parameter, std::uint16_t fallback) {
    const auto port = portNumber(parameter);
    return port && *port != 0 ? *port : fallback;
}

void PlainServer::report() {
    net::ReportWinsockError(*this, net::ReportVariant::LogAndSound, &m_log);
}

void PlainServer::reportCode(int code, const std::string& after) {
    net::ReportWinsockCode(*this, net::ReportVariant::LogAndSound, &m_log, code, after);
}

void PlainServer::showPortCaption() {
    model().setCaption(m_prefix + " - " + m_host.name + ":" + std::to_string(m_serverPort) + " (" +
                       m_host.address + ")");
}

void PlainServer::countHit() {
    // Hits is a 32-bit count that wraps as it did where it was born, without
    // the undefined overflow of a signed increment.
    m_hits = static_cast<std::int32_t>(static_cast<std::uint32_t>(m_hits) + 1u);
    model().setCaption(m_prefix + " - " + m_host.name + ":" + std::to_string(m_serverPort) +
                       " (Hit:" + std::to_string(m_hits) + ")");
}

void PlainServer::onOpen() {
    m_serverPort = portFromParameter(argument(0), m_defaultPort);
    installHook(std::make_shared<net::SocketEventHook>(net::SocketEventHook::Variant::Server));
    installHooks();
    m_host = net::StartupBanner(
        *this, m_log, net::ReportVariant::LogAndSound,
        [this](const net::LocalHost& host) {
            m_host = host;
            showPortCaption();
        },
        m_serverPort);

    // Every step runs whatever the one before it reported.
    m_log.add("creating socket...");
    m_socket = win::socket(AF_INET, m_socketType, 0);
    if (m_socket == win::INVALID_SOCKET)
        report();
    else
        m_log.add(m_prefix + " Socket #" + std::to_string(m_socket));
    beforeBind();
    bindWithRetries();
    afterBind();
    openIpv6();
    m_log.add("waiting to accept()...");
    m_log.add(" ");
    if (win::WSAAsyncSelect(m_socket, hwnd(), net::SocketNotifyMessage,
                            win::FD_READ | win::FD_ACCEPT | win::FD_CLOSE) != 0)
        report();
}

void PlainServer::bindWithRetries() {
    if (const int error = net::BindWithRetries(
            m_socket, m_serverPort, [this](const std::string& line) { m_log.add(line); },
            [this] { showPortCaption(); }))
        reportCode(error);
}

void PlainServer::openIpv6() {
    // IPv6 follows IPv4 onto the port it settled on; a server whose IPv4 bind
    // failed has no port to share. It logs nothing unless it fails, so that a
    // session seen over IPv4 reads as it always has.
    win::sockaddr_in own{};
    int length = sizeof own;
    if (win::getsockname(m_socket, reinterpret_cast<win::sockaddr*>(&own), &length) != 0) return;
    const auto twin =
        Ipv6Listener::open(m_socketType, m_serverPort, m_socketType == SOCK_DGRAM, 1, hwnd());
    m_socket6 = twin.socket;
    if (twin.error) reportCode(twin.error, " (IPv6)");
    // Who holds the port's IPv6 side, as the bind rule says it for IPv4.
    if (twin.error == win::WSAEADDRINUSE) {
        win::PortHolders holders(m_socketType);
        for (const auto& line : net::holderLines(holders.find(m_serverPort, AF_INET6), 80))
            m_log.add(line);
    }
}

void PlainServer::onUserEvent(int event, win::WPARAM wParam, win::LPARAM) {
    switch (event) {
    case 1024:
        postClose();
        break;
    case 1126:
        onAcceptEvent(static_cast<win::SOCKET>(wParam));
        break;
    case 1127:
        onReadEvent(static_cast<win::SOCKET>(wParam));
        break;
    case 1128:
        onPeerCloseEvent(static_cast<win::SOCKET>(wParam));
        break;
    }
}

void PlainServer::onClose() {
    m_log.add("closing socket...");
    if (win::closesocket(m_socket) != 0) report();
    m_socket = win::INVALID_SOCKET;
    if (m_socket6 != win::INVALID_SOCKET && win::closesocket(m_socket6) != 0)
        reportCode(win::WSAGetLastError(), " (IPv6)");
    m_socket6 = win::INVALID_SOCKET;
    closeConnections();
    // Nothing registered for this window may post to it once it is gone.
    win::WSADetachWindow(hwnd());
    m_log.clear();
}

} // namespace tools
