#include "tools/icmp/ping_ip.h"

#include "platform/text.h"
#include "settings/settingsfile.h"
#include "tools/icmp/dottedaddress.h"
#include "tools/icmp/echoservice.h"
#include "tools/icmp/echotarget.h"
#include "tools/icmp/icmpstatustext.h"

#include <cstring>

namespace tools {
namespace {

constexpr const char* kSection = "Ping Settings";
constexpr const char* kKey = "Ping";
constexpr std::size_t kFieldWidth = 20;
// The entry holds an IPv6 address or a name; an IPv4 address is still read from
// its first 20 characters.
constexpr std::size_t kEntryWidth = 45;
constexpr std::size_t kAddressWidth = 19;
constexpr std::size_t kStatusWidth = 39;
constexpr std::size_t kNumberWidth = 19;
constexpr std::size_t kDataWidth = 32;
constexpr std::size_t kMessageWidth = 2048;

ui::ControlDef control(int number, ui::ControlKind kind, const char* label, int column) {
    return ui::makeControl(number, kind, label, 0, column);
}

} // namespace

Ping_ip::Ping_ip() : Ping_ip(std::make_shared<EchoService>()) {}

Ping_ip::Ping_ip(std::shared_ptr<EchoService> echo)
    : ToolWindow("Ping_ip", makeDefinition()), m_echo(std::move(echo)) {}

ui::WindowDefinition Ping_ip::makeDefinition() {
    using K = ui::ControlKind;
    ui::WindowDefinition d;
    d.caption = "Ping";
    d.description = "Ping IP address";
    d.width = 180;
    d.height = 40;
    ui::ControlDef address = control(AddressEntry, K::Entry, "", 1);
    address.chars = kEntryWidth;
    ui::ControlDef ping = control(PingButton, K::Button, "Ping", 2);
    ping.defaultButton = true;
    d.controls = {control(IpPrompt, K::Prompt, "IP:", 0), ping, address};
    return d;
}

std::string Ping_ip::field() {
    return text::cut(model().value(AddressEntry), kFieldWidth);
}

void Ping_ip::onOpen() {
    const std::string saved = text::trimRight(ReadSetting(kSection, kKey, ""));
    model().setValue(AddressEntry, text::trimRight(text::cut(saved, kEntryWidth)));
}

void Ping_ip::onClose() {
    WriteSetting(kSection, kKey, text::trimRight(wideField()));
}

std::string Ping_ip::wideField() {
    return text::cut(model().value(AddressEntry), kEntryWidth);
}

void Ping_ip::onControl(int control) {
    if (control == PingButton) ping();
}

void Ping_ip::ping() {
    const std::string value = field();
    const std::string address = text::trimRight(text::cut(value, kAddressWidth));
    std::string message;
    const std::uint32_t destination = ParseDottedAddress(address);
    const std::string entry = text::trimRight(wideField());
    const net::SocketAddress v6 = destination == 0 ? Ipv6EchoTarget(entry) : net::SocketAddress{};
    if (v6.isV6()) {
        message = ping6(entry, v6);
    } else if (destination == 0) {
        message = address + "||" + "Invalid IP Address !";
    } else {
        m_reply = win::EchoReply{};
        m_echo->send(destination, nullptr, m_reply);
        // Read whether or not an answer came: without one the record holds what
        // the service left there (the time-out status, zeros, no data).
        const std::string status = text::cut(IcmpStatusText(m_reply.STATUS), kStatusWidth);
        const std::string time =
            text::cut(std::to_string(m_reply.ROUNDTRIPTIME) + " ms", kNumberWidth);
        const std::string size =
            text::cut(std::to_string(m_reply.DATASIZE) + " bytes", kNumberWidth);
        const std::string data(m_reply.DATA, ::strnlen(m_reply.DATA, kDataWidth));
        message = address + "||" + status + "|" + time + "|" + size + "|" + data;
        WriteSetting(kSection, kKey, text::trimRight(value));
    }
    messageBox(text::trimRight(text::cut(message, kMessageWidth)), "PING", ui::BoxIcon::None,
               ui::BoxButtons::Ok);
}

std::string Ping_ip::ping6(const std::string& entry, const net::SocketAddress& destination) {
    m_reply6 = win::Echo6Reply{};
    const win::DWORD replies = m_echo->send6(Ipv6SocketAddress(destination), nullptr, m_reply6);
    // The IPv6 reply has no size field: the size shown is that of the data returned.
    const std::size_t received = replies != 0 && m_reply6.REPLY.Status == win::IP_SUCCESS
                                     ? ::strnlen(m_reply6.DATA, sizeof m_reply6.DATA)
                                     : 0;
    const std::string status = text::cut(IcmpStatusText(m_reply6.REPLY.Status), kStatusWidth);
    const std::string time =
        text::cut(std::to_string(m_reply6.REPLY.RoundTripTime) + " ms", kNumberWidth);
    const std::string size = text::cut(std::to_string(received) + " bytes", kNumberWidth);
    const std::string data(m_reply6.DATA, ::strnlen(m_reply6.DATA, kDataWidth));
    WriteSetting(kSection, kKey, entry);
    return entry + "||" + status + "|" + time + "|" + size + "|" + data;
}

} // namespace tools
