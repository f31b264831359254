#include "tools/icmp/traceroute.h"

#include "platform/text.h"
#include "platform/winsock.h"
#include "settings/settingsfile.h"
#include "tools/icmp/dottedaddress.h"
#include "tools/icmp/echoservice.h"
#include "tools/icmp/echotarget.h"
#include "tools/icmp/icmpstatustext.h"

#include <cstdio>

namespace tools {
namespace {

constexpr const char* kSection = "Ping Settings";
// An IPv6 address or a name fits; an IPv4 address is read from its first 19.
constexpr std::size_t kFieldWidth = 45;
constexpr std::size_t kNodeWidth = 60;
constexpr std::size_t kStatusWidth = 39;

// "Attempt failed." and "HOP limit (30) reached." in Windows-1250.
// (A hex escape would swallow the letters after it, hence the pieces.)
const std::string kNoAnswer = "Poku\x9A"
                              "aj neuspje\x9A"
                              "an.";
const std::string kLimitReached = "HOP limit (30) dosegnut.";

ui::ControlDef control(int number, ui::ControlKind kind, const char* label, int column) {
    return ui::makeControl(number, kind, label, 0, column);
}

ui::Row closingRow(const std::string& message) {
    return {"***", std::string(20, '*'), message, std::string(10, '*'), std::string(17, '*')};
}

bool endsTheTrace(std::uint32_t status) {
    // The destination cannot be reached past this router: every further hop
    // would only hear the same answer again (or, once the router's own limit on
    // such answers is spent, nothing).
    return status >= win::IP_DEST_NET_UNREACHABLE && status <= win::IP_DEST_PORT_UNREACHABLE;
}

ui::ControlDef goButton() {
    ui::ControlDef go = control(Traceroute::GoButton, ui::ControlKind::Button, "Go", 2);
    go.defaultButton = true;
    return go;
}

} // namespace

Traceroute::Traceroute() : Traceroute(std::make_shared<EchoService>()) {}

Traceroute::Traceroute(std::shared_ptr<EchoService> echo)
    : ToolWindow("Traceroute", makeDefinition()), m_echo(std::move(echo)) {}

ui::WindowDefinition Traceroute::makeDefinition() {
    using K = ui::ControlKind;
    ui::WindowDefinition d;
    d.caption = "TraceRoute";
    d.description = "TraceRoute IP address";
    d.width = 340;
    d.height = 200;
    ui::ControlDef frame = control(Frame, K::Group, "", 0);
    frame.layout.columnSpan = 4;
    ui::ControlDef address = control(AddressEntry, K::Entry, "", 1);
    address.chars = kFieldWidth;
    ui::ControlDef list = control(HopList, K::List, "", 0);
    list.layout.row = -1;
    list.columns = {ui::ColumnDef{20, " Hop", 5}, ui::ColumnDef{49, "IP", 45},
                    ui::ColumnDef{72, "Node", 60}, ui::ColumnDef{23, "Time", 10},
                    ui::ColumnDef{160, "", 40}};
    d.controls = {frame,
                  address,
                  goButton(),
                  control(NodeBox, K::CheckBox, "host name (Node)", 3),
                  control(IpPrompt, K::Prompt, "IP:", 0),
                  list};
    return d;
}

std::string Traceroute::field() {
    return text::cut(model().value(AddressEntry), kFieldWidth);
}

void Traceroute::onOpen() {
    m_reply = win::EchoReply{};
    // The section counts only when its address is there.
    const std::string target = text::trimRight(ReadSetting(kSection, "PingTr", ""));
    if (!target.empty()) {
        model().setValue(AddressEntry, text::trimRight(text::cut(target, kFieldWidth)));
        model().setChecked(NodeBox, text::leadingInteger(ReadSetting(kSection, "Node", "")) != 0);
    }
}

void Traceroute::onClose() {
    model().clearList(HopList);
    WriteSetting(kSection, "PingTr", text::trimRight(field()));
    WriteSetting(kSection, "Node", model().checked(NodeBox) ? "1" : "0");
}

void Traceroute::onControl(int control) {
    if (control == GoButton) trace();
}

void Traceroute::setInputEnabled(bool enabled) {
    // The group frame and what it holds.
    for (int c : {Frame, AddressEntry, GoButton, NodeBox, IpPrompt})
        model().setEnabled(c, enabled);
}

void Traceroute::trace() {
    const std::string address = text::trimRight(field());
    const bool node = model().checked(NodeBox);
    model().setWaitCursor(true);
    setInputEnabled(false);
    model().clearList(HopList);
    m_hops = 0;
    m_target = ParseDottedAddress(address);
    m_target6 = m_target == 0 ? Ipv6EchoTarget(address) : net::SocketAddress{};
    m_options6 = win::IP_OPTION_INFORMATION{};
    // The time-to-live is one byte; the hop limit ends the loop long before.
    for (int ttl = 1; ttl <= 255; ++ttl) {
        if (!m_target6.isV6() && ParseDottedAddress(address) == 0) {
            model().appendRow(HopList, {"", "Invalid IP Address !", "", "", ""});
            break;
        }
        if (!probe(static_cast<std::uint8_t>(ttl))) {
            // A silent hop ends the trace; it is not skipped.
            model().appendRow(HopList, closingRow(kNoAnswer));
            break;
        }
        model().appendRow(HopList, hopRow(node));
        // Tested before the target: the 30th hop ends the trace even when it is
        // the target itself.
        if (m_hops >= HopLimit) {
            model().appendRow(HopList, closingRow(kLimitReached));
            break;
        }
        model().redraw();
        if (m_target6.isV6()) {
            if (endsTheTrace(m_reply6.REPLY.Status) || replyAddress6().sameHost(m_target6)) break;
        } else if (endsTheTrace(m_reply.STATUS) || m_reply.ADDRESS == m_target) {
            break;
        }
    }
    setInputEnabled(true);
    model().setWaitCursor(false);
    model().redraw();
}

bool Traceroute::probe(std::uint8_t ttl) {
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        if (m_target6.isV6()) {
            m_options6.TTL = ttl;
            m_reply6 = win::Echo6Reply{};
            if (m_echo->send6(Ipv6SocketAddress(m_target6), &m_options6, m_reply6) != 0)
                return true;
            continue;
        }
        // The other options (type of service, flags) stay as the last reply left them.
        m_reply.OPTIONS.TTL = ttl;
        if (m_echo->send(m_target, &m_reply.OPTIONS, m_reply) != 0) return true;
    }
    return false;
}

ui::Row Traceroute::hopRow(bool node) {
    ++m_hops;
    char hop[16];
    std::snprintf(hop, sizeof hop, "%03d", static_cast<int>(m_hops));
    if (m_target6.isV6())
        return {hop, replyAddress6().hostText(), nodeName6(node),
                std::to_string(m_reply6.REPLY.RoundTripTime),
                text::cut(IcmpStatusText(m_reply6.REPLY.Status), kStatusWidth)};
    return {hop, AddressText(m_reply.ADDRESS), nodeName(node),
            std::to_string(m_reply.ROUNDTRIPTIME),
            text::cut(IcmpStatusText(m_reply.STATUS), kStatusWidth)};
}

std::string Traceroute::nodeName(bool node) {
    if (!node) return "-----";
    if (m_reply.ADDRESS == 0) return "";
    const std::uint32_t address = m_reply.ADDRESS;
    const win::hostent* host =
        win::gethostbyaddr(reinterpret_cast<const char*>(&address), 4, AF_INET);
    if (host == nullptr || host->h_name == nullptr) return "?";
    const std::string name = text::cut(host->h_name, kNodeWidth);
    beep();
    return name;
}

net::SocketAddress Traceroute::replyAddress6() const {
    return Ipv6ReplyAddress(m_reply6.REPLY.Address);
}

std::string Traceroute::nodeName6(bool node) {
    if (!node) return "-----";
    const net::SocketAddress from = replyAddress6();
    if (from.sameHost(net::SocketAddress::any(AF_INET6, 0))) return "";
    const std::string name = Ipv6HostName(from);
    if (name.empty()) return "?";
    beep();
    return text::cut(name, kNodeWidth);
}

} // namespace tools
