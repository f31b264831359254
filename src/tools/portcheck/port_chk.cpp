#include "tools/portcheck/port_chk.h"

#include "net/holderlines.h"
#include "net/localhost.h"
#include "net/socketaddress.h"
#include "net/winsockerror.h"
#include "platform/text.h"
#include "settings/settingsfile.h"

#include <cstdio>

namespace tools {
namespace {

constexpr const char* kSection = "Port check";
constexpr int kTextWidth = 40;
constexpr std::uint64_t kLastPort = 65535;

ui::ControlDef control(int number, ui::ControlKind kind, const char* label, int row, int column) {
    return ui::makeControl(number, kind, label, row, column);
}

ui::ControlDef portEntry(int number, int column) {
    ui::ControlDef c = control(number, ui::ControlKind::Entry, "", 0, column);
    c.chars = 6;
    c.picture = "999999";
    return c;
}

} // namespace

Port_chk::Port_chk()
    : ToolWindow("Port_chk", makeDefinition()),
      m_log(model(), Log, kTextWidth, net::EventLog::Limit::None, true) {}

ui::WindowDefinition Port_chk::makeDefinition() {
    using K = ui::ControlKind;
    ui::WindowDefinition d;
    d.caption = "Port scan";
    d.description = "Local host port check";
    d.width = 260;
    d.height = 180;
    ui::ControlDef frame = control(Frame, K::Group, "", 0, 0);
    frame.layout.rowSpan = 2;
    frame.layout.columnSpan = 4;
    ui::ControlDef progress = control(Progress, K::Display, "", 1, 0);
    progress.chars = 10;
    ui::ControlDef tcp = control(TcpOption, K::Radio, "TCP", 1, 2);
    tcp.value = "1";
    ui::ControlDef go = control(GoButton, K::Button, "Go", 1, 1);
    go.defaultButton = true;
    ui::ControlDef log = control(Log, K::List, "", -1, 0);
    log.columns = {ui::ColumnDef{76, "", 20}, ui::ColumnDef{160, "", kTextWidth}};
    d.controls = {frame,
                  control(RangePrompt, K::Prompt, "Port check,                 port from:", 0, 0),
                  portEntry(FirstEntry, 1),
                  control(ToPrompt, K::Prompt, "to:", 0, 2),
                  portEntry(LastEntry, 3),
                  progress,
                  go,
                  tcp,
                  control(UdpOption, K::Radio, "UDP", 1, 3),
                  log};
    return d;
}

std::string Port_chk::progressText(std::uint64_t done, std::uint64_t total) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%3llu %%",
                  static_cast<unsigned long long>(total ? done * 100 / total : 0));
    return buf;
}

void Port_chk::onOpen() {
    net::EnsureSockets(*this, net::ReportVariant::Log, &m_log);
    const net::LocalHost host = net::ReadLocalHost(*this, net::ReportVariant::Log, &m_log);
    model().setCaption(text::trimRight(host.name) + " (" + text::trimRight(host.address) + ")");
    // The section counts only when its first key holds something; then a missing
    // "Port2" reads as 0, which "Go" refuses.
    const std::string first = ReadSetting(kSection, "Port1", "");
    if (!text::trimRight(first).empty()) {
        m_port1 = text::leadingDecimal(first);
        m_port2 = text::leadingDecimal(ReadSetting(kSection, "Port2", ""));
        m_tip = text::cut(ReadSetting(kSection, "Tip", ""), 3);
    }
    showValues();
}

void Port_chk::onClose() {
    if (m_scanSocket != win::INVALID_SOCKET) {
        win::closesocket(m_scanSocket);
        m_scanSocket = win::INVALID_SOCKET;
    }
    m_log.clear();
    takeValues();
    WriteSetting(kSection, "Port1", std::to_string(m_port1));
    WriteSetting(kSection, "Port2", std::to_string(m_port2));
    WriteSetting(kSection, "Tip", text::trimRight(m_tip));
}

void Port_chk::onControl(int control) {
    if (control == GoButton) scan();
}

void Port_chk::showValues() {
    model().setValue(FirstEntry, std::to_string(m_port1));
    model().setValue(LastEntry, std::to_string(m_port2));
    model().setChecked(TcpOption, m_tip == "TCP");
    model().setChecked(UdpOption, m_tip == "UDP");
}

void Port_chk::takeValues() {
    m_port1 = text::leadingDecimal(model().value(FirstEntry));
    m_port2 = text::leadingDecimal(model().value(LastEntry));
    // With neither option chosen (an unknown type from the settings file) the
    // type stays as it was read.
    if (model().checked(TcpOption)) m_tip = "TCP";
    if (model().checked(UdpOption)) m_tip = "UDP";
}

void Port_chk::setGroupEnabled(bool enabled) {
    // Everything but the log, which stays readable during the scan.
    for (int c = Frame; c < Log; ++c)
        model().setEnabled(c, enabled);
}

void Port_chk::scan() {
    takeValues();
    // Entries take six digits: a number above the last port is refused as a
    // reversed range is, never wrapped into a port of its own.
    if (m_port1 == 0 || m_port2 == 0 || m_port1 > m_port2 || m_port2 > kLastPort) {
        model().setFocus(FirstEntry);
        beep();
        return;
    }
    setGroupEnabled(false);
    m_log.clear();
    m_log.add(text::trimRight(m_tip) + ": " + std::to_string(m_port1) + " - " +
              std::to_string(m_port2));
    const bool tcp = m_tip == "TCP";
    m_holders.emplace(tcp ? SOCK_STREAM : SOCK_DGRAM);
    m_ipv6 = true;
    const std::uint64_t total = m_port2 - m_port1 + 1;
    std::uint64_t done = 0;
    // The counter is wider than a port, so a range ending at 65535 ends there.
    for (std::uint64_t port = m_port1; port <= m_port2; ++port) {
        if (!probe(static_cast<std::uint16_t>(port), tcp)) break;
        ++done;
        model().setValue(Progress, progressText(done, total));
    }
    m_holders.reset();
    setGroupEnabled(true);
    m_log.add("***");
    model().setValue(Progress, "");
    model().redraw();
}

bool Port_chk::probe(std::uint16_t port, bool tcp) {
    m_scanSocket = win::socket(AF_INET, tcp ? SOCK_STREAM : SOCK_DGRAM, 0);
    if (m_scanSocket == win::INVALID_SOCKET) {
        // This port is skipped; the next may do.
        net::ReportWinsockError(*this, net::ReportVariant::Log, &m_log);
        return true;
    }
    win::sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = win::htonl(INADDR_ANY);
    address.sin_port = win::htons(port);
    bool inUse = false;
    if (win::bind(m_scanSocket, reinterpret_cast<const win::sockaddr*>(&address), sizeof address) ==
        win::SOCKET_ERROR) {
        const int code = win::WSAGetLastError();
        if (code != win::WSAEADDRINUSE) {
            // Any other refusal ends the scan: WSAEACCES, for one, where a user
            // without the right to bind the ports below the unprivileged start
            // reaches the first of them.
            net::ReportWinsockCode(*this, net::ReportVariant::Log, &m_log, code);
            win::closesocket(m_scanSocket);
            m_scanSocket = win::INVALID_SOCKET;
            return false;
        }
        m_log.add("Port: " + std::to_string(port) + " in use !");
        beep();
        net::logHolders(m_log, *m_holders, port);
        inUse = true;
    }
    if (win::closesocket(m_scanSocket) == win::SOCKET_ERROR)
        net::ReportWinsockError(*this, net::ReportVariant::Log, &m_log);
    m_scanSocket = win::INVALID_SOCKET;
    if (!inUse && m_ipv6) probeIpv6(port, tcp);
    return true;
}

void Port_chk::reportIpv6(int code) {
    net::ReportWinsockCode(*this, net::ReportVariant::Log, &m_log, code, " (IPv6)");
}

void Port_chk::probeIpv6(std::uint16_t port, bool tcp) {
    // IPv6 alone, so that what holds the port's IPv4 side (already found free)
    // does not count twice, and a listener on IPv6 only is found.
    m_scanSocket = win::socket(AF_INET6, tcp ? SOCK_STREAM : SOCK_DGRAM, 0);
    if (m_scanSocket == win::INVALID_SOCKET) {
        m_ipv6 = false;
        reportIpv6(win::WSAGetLastError());
        return;
    }
    // A new IPv6 socket takes IPv6 alone (IPV6_V6ONLY), as on Windows.
    const net::SocketAddress any = net::SocketAddress::any(AF_INET6, port);
    if (win::bind(m_scanSocket, any.data(), any.size()) == win::SOCKET_ERROR) {
        const int code = win::WSAGetLastError();
        if (code == win::WSAEADDRINUSE) {
            m_log.add("Port: " + std::to_string(port) + " in use ! (IPv6)");
            beep();
            net::logHolders(m_log, *m_holders, port, AF_INET6);
        } else {
            m_ipv6 = false;
            reportIpv6(code);
        }
    }
    if (win::closesocket(m_scanSocket) == win::SOCKET_ERROR) reportIpv6(win::WSAGetLastError());
    m_scanSocket = win::INVALID_SOCKET;
}

} // namespace tools
