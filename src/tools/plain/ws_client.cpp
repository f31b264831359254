#include "tools/plain/ws_client.h"

#include "net/ipv6server.h"
#include "net/localhost.h"
#include "net/receivedtext.h"
#include "net/socketeventhook.h"
#include "net/winsockerror.h"
#include "platform/text.h"
#include "settings/settingsfile.h"
#include "tools/plain/porttext.h"

namespace tools {
namespace {

constexpr const char* kSection = "Client Settings";
constexpr std::size_t kStatusWidth = 20;
// Wide enough for any IPv6 address.
constexpr std::size_t kIpWidth = 45;
constexpr std::size_t kCommandWidth = 255;

ui::ControlDef control(int number, ui::ControlKind kind, const char* label, int row, int column) {
    return ui::makeControl(number, kind, label, row, column);
}

} // namespace

WS_CLIENT::WS_CLIENT()
    : ToolWindow("WS_CLIENT", makeDefinition()),
      m_log(model(), LogList, 40, net::EventLog::Limit::None, true) {}

ui::WindowDefinition WS_CLIENT::makeDefinition() {
    using K = ui::ControlKind;
    ui::WindowDefinition d;
    d.caption = "WS client";
    d.width = 260;
    d.height = 180;
    ui::ControlDef ip = control(IpEntry, K::Entry, "", 0, 1);
    ip.chars = static_cast<int>(kIpWidth);
    // The server's fields connect; Send acts on the command.
    ip.enterButton = ConnectButton;
    ui::ControlDef port = control(PortEntry, K::Entry, "", 0, 3);
    port.chars = 6;
    port.picture = "999999";
    port.enterButton = ConnectButton;
    ui::ControlDef command = control(CommandEntry, K::Entry, "", 1, 1);
    command.chars = 255;
    command.layout.columnSpan = 2;
    ui::ControlDef list = control(LogList, K::List, "", -1, 0);
    list.columns = {ui::ColumnDef{76, "", 20}, ui::ColumnDef{160, "", 40}};
    ui::ControlDef send = control(SendButton, K::Button, "Send", 1, 3);
    send.defaultButton = true;
    d.controls = {
        control(IpPrompt, K::Prompt, "Server IP:", 0, 0),    ip,
        control(PortPrompt, K::Prompt, "Port:", 0, 2),       port,
        control(ConnectButton, K::Button, "Connect", 0, 4),  command,
        control(CommandPrompt, K::Prompt, "Command:", 1, 0), send,
        control(CrLfBox, K::CheckBox, "CrLf", 1, 4),         list,
    };
    return d;
}

std::string WS_CLIENT::key(const char* name) const {
    return std::string(m_tcp ? "TCP" : "UDP") + name;
}

void WS_CLIENT::status(const std::string& line) {
    m_log.add(text::cut(line, kStatusWidth));
}

void WS_CLIENT::report() {
    net::ReportWinsockError(*this, net::ReportVariant::LogAndSound, &m_log);
}

void WS_CLIENT::onOpen() {
    m_tcp = text::trimRight(argument(1)) == "TCP";
    if (!m_tcp) model().setValue(ConnectButton, "Create");
    // The mode's settings count only when its address is there.
    if (!text::trimRight(ReadSetting(kSection, key("ClientIP"), "")).empty()) {
        m_serverIp =
            text::cut(text::trimRight(ReadSetting(kSection, key("ClientIP"), "")), kIpWidth);
        if (const auto port = portNumber(ReadSetting(kSection, key("Port"), "")))
            m_serverPort = *port;
        m_crLf = text::leadingInteger(ReadSetting(kSection, key("CR"), "")) != 0;
    }
    // A port given at the start wins over the settings.
    if (!argument(0).empty())
        if (const auto port = portNumber(argument(0))) m_serverPort = *port;
    model().setValue(IpEntry, m_serverIp);
    model().setValue(PortEntry, std::to_string(m_serverPort));
    model().setChecked(CrLfBox, m_crLf);
    model().redraw();
    installHook(std::make_shared<net::SocketEventHook>(net::SocketEventHook::Variant::Client));
    net::EnsureSockets(*this, net::ReportVariant::LogAndSound, &m_log);
    model().setCaption(m_tcp ? "ws Client - TCP" : "ws Client - UDP");
}

bool WS_CLIENT::takeFields() {
    m_serverIp = text::cut(model().value(IpEntry), kIpWidth);
    m_command = text::cut(model().value(CommandEntry), kCommandWidth);
    m_crLf = model().checked(CrLfBox);
    const auto port = portNumber(model().value(PortEntry));
    if (!port) {
        model().setFocus(PortEntry);
        beep();
        return false;
    }
    m_serverPort = *port;
    return true;
}

void WS_CLIENT::onControl(int control) {
    if (control == ConnectButton) connectServer();
    if (control == SendButton) sendCommand();
}

void WS_CLIENT::connectServer() {
    if (!takeFields()) return;
    status("Closing Socket...");
    // Closing what is not a socket (nothing made yet) fails, and that is no news.
    if (win::closesocket(m_socket) == 0) model().redraw();

    // An IPv6 literal, or a name with only IPv6 addresses, is reached over IPv6;
    // anything else goes the IPv4 way, where only a dotted address is understood.
    const net::SocketAddress v6 = net::ipv6Server(text::trimRight(m_serverIp), m_serverPort);
    const int family = v6.valid() ? AF_INET6 : AF_INET;
    // Each step runs whatever the earlier ones reported; only a failed connect
    // leaves the socket without notifications.
    status("Creating Socket...");
    m_socket = win::socket(family, m_tcp ? SOCK_STREAM : SOCK_DGRAM, 0);
    if (m_socket == win::INVALID_SOCKET) {
        report();
    } else {
        const std::string mode = m_tcp ? "TCP" : "UDP";
        model().setCaption("Client " + mode + " Socket #" + std::to_string(m_socket));
        status(mode + " Socket #" + std::to_string(m_socket));
    }

    status("Binding Socket...");
    const net::SocketAddress local = net::SocketAddress::any(family, 0);
    if (win::bind(m_socket, local.data(), local.size()) != 0)
        report();
    else
        model().redraw();

    status("Connecting...");
    // Only a dotted address: an IPv4 name is not looked up.
    const net::SocketAddress server =
        v6.valid() ? v6
                   : net::SocketAddress::v4(win::inet_addr(text::trimRight(m_serverIp).c_str()),
                                            m_serverPort);
    // The socket is still blocking here: the window waits for the connection.
    if (win::connect(m_socket, server.data(), server.size()) != 0) {
        report();
        return;
    }
    status("Connected.");
    if (win::WSAAsyncSelect(m_socket, hwnd(), net::SocketNotifyMessage,
                            win::FD_READ | win::FD_WRITE | win::FD_CLOSE) != 0)
        report();
}

void WS_CLIENT::sendCommand() {
    takeFields();
    status("Sending data: " + text::trimRight(m_command));
    std::string data = text::trimRight(m_command);
    if (m_crLf) data += "\r\n";
    if (win::send(m_socket, data.data(), static_cast<int>(data.size()), 0) == win::SOCKET_ERROR)
        report();
    m_command.clear();
    model().setValue(CommandEntry, "");
    model().setFocus(CommandEntry);
}

void WS_CLIENT::readReply() {
    status("reading...");
    char buffer[1025] = {};
    const int n = win::recv(m_socket, buffer, 1024, 0);
    if (n <= 0) {
        report();
        return;
    }
    // One line per read: what comes before the first zero byte, and of that what
    // comes before the first carriage return.
    m_log.add(net::replyLine({buffer, static_cast<std::size_t>(n)}));
}

void WS_CLIENT::onUserEvent(int event, win::WPARAM, win::LPARAM) {
    // Connect, write and close notifications change nothing shown: a server that
    // closes is found out by the next send.
    if (event == 1026) readReply();
}

void WS_CLIENT::onClose() {
    status("Closing Socket...");
    if (win::closesocket(m_socket) == 0) model().redraw();
    m_socket = win::INVALID_SOCKET;
    win::WSADetachWindow(hwnd());
    m_log.clear();
    WriteSetting(kSection, key("ClientIP"), text::trimRight(m_serverIp));
    WriteSetting(kSection, key("Port"), std::to_string(m_serverPort));
    WriteSetting(kSection, key("CR"), m_crLf ? "1" : "0");
}

} // namespace tools
