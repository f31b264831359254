#include "tools/plain/unos_porta.h"

#include "platform/text.h"
#include "tools/plain/porttext.h"
#include "ui/desktop.h"
#include "ui/procedureregistry.h"

namespace tools {
namespace {

ui::ControlDef control(int number, ui::ControlKind kind, const char* label, const char* toolTip,
                       int row, int column) {
    ui::ControlDef c = ui::makeControl(number, kind, label, row, column);
    c.toolTip = toolTip;
    return c;
}

} // namespace

Unos_porta::Unos_porta() : ToolWindow("Unos_porta", makeDefinition()) {}

ui::WindowDefinition Unos_porta::makeDefinition() {
    using K = ui::ControlKind;
    ui::WindowDefinition d;
    // No caption: the title bar and the Window menu show this instead.
    d.description = "Port launcher";
    d.width = 150;
    d.height = 50;
    d.resizable = false;
    ui::ControlDef entry = control(PortEntry, K::Entry, "", "", 0, 1);
    entry.chars = 5;
    entry.picture = "99999";
    entry.value = "8088";
    entry.layout.columnSpan = 3;
    d.controls = {
        control(PortPrompt, K::Prompt, "Port:", "", 0, 0),
        entry,
        control(TcpButton, K::Button, "Tcp", "Start Tcp\nserver", 1, 0),
        control(UdpButton, K::Button, "Udp", "Start Udp\nserver", 1, 1),
        control(HttpButton, K::Button, "Http", "Start Http\nserver", 1, 2),
        control(ClientButton, K::Button, "Client", "Start tcp, udp or\nhttp client", 1, 3),
    };
    return d;
}

void Unos_porta::onOpen() {
    m_port = 8088;
    model().setValue(PortEntry, std::to_string(m_port));
}

bool Unos_porta::takePort() {
    const auto port = portNumber(model().value(PortEntry));
    if (!port) {
        model().setValue(PortEntry, std::to_string(m_port));
        model().setFocus(PortEntry);
        beep();
        return false;
    }
    m_port = *port;
    return true;
}

void Unos_porta::onControl(int control) {
    switch (control) {
    case PortEntry:
        takePort();
        break;
    case TcpButton:
        startServer("WS_Tcp");
        break;
    case UdpButton:
        startServer("WS_Udp");
        break;
    case HttpButton:
        startServer("WS_http_s");
        break;
    case ClientButton:
        startClient();
        break;
    }
}

void Unos_porta::startServer(const char* procedure) {
    if (!takePort()) return;
    if (m_port == 0) {
        model().setFocus(PortEntry);
        beep();
        return;
    }
    m_portText = text::pad(std::to_string(m_port), 20);
    startIfPresent(procedure, {m_portText});
}

void Unos_porta::startClient() {
    if (!takePort()) return;
    const std::string port = std::to_string(m_port);
    switch (popupMenu("Tcp|Udp|-|Http")) {
    case 1:
        startIfPresent("WS_CLIENT", {port, "TCP"});
        break;
    case 2:
        startIfPresent("WS_CLIENT", {port, "UDP"});
        break;
    case 3:
        startIfPresent("ws_HClient", {"", port, ""});
        break;
    }
    beep();
}

void Unos_porta::startIfPresent(const std::string& procedure, std::vector<std::string> arguments) {
    // A tool that is not part of this build is simply not started.
    if (desktop() && desktop()->registry().contains(procedure))
        startProcedure(procedure, std::move(arguments));
}

} // namespace tools
