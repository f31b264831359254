#include "tools/lookup/dnsx.h"

#include "net/shellstate.h"
#include "net/socketaddress.h"
#include "net/socketeventhook.h"
#include "net/soundcue.h"
#include "platform/text.h"
#include "platform/ws2tcpip.h"
#include "settings/settingsfile.h"
#include "tools/icmp/dottedaddress.h"

#include <cstring>

namespace tools {
namespace {

constexpr const char* kSection = "DNS Settings";
constexpr std::size_t kNameWidth = 80;
// The address fields hold the longest IPv6 text ("ffff:...:255.255.255.255").
constexpr std::size_t kIpWidth = 45;
constexpr std::size_t kAddressRequestWidth = 45;
constexpr std::size_t kRequestWidth = 39;
constexpr std::size_t kFoundNameWidth = 80;
constexpr std::size_t kFoundAddressWidth = 45;
// "Pogrešan IP: " in Windows-1250 (š is 0x9A).
constexpr const char* kBadAddress = "Pogre\x9a"
                                    "an IP: ";

ui::ControlDef control(int number, ui::ControlKind kind, const char* label, int row, int column) {
    return ui::makeControl(number, kind, label, row, column);
}

// What the resolver left in one of the window's buffers. Everything is read through
// the buffer's bounds: a completion whose entry did not fit writes nothing, and the
// buffer is emptied after each completion, so an empty buffer reads as "not found".
class EntryReader {
public:
    EntryReader(const char* buffer, std::size_t size) : m_begin(buffer), m_end(buffer + size) {
        std::memcpy(&m_entry, buffer, sizeof m_entry);
    }

    // The official name; empty when the entry carries none.
    std::string name() const { return textAt(m_entry.h_name); }

    // The first address: an IPv4 one in dotted decimal, one number per address
    // byte; an IPv6 one as every address of that family is written. Empty when the
    // entry lists no address.
    std::string firstAddress() const {
        if (m_entry.h_length <= 0 || m_entry.h_length > 16) return {};
        const char* list = reinterpret_cast<const char*>(m_entry.h_addr_list);
        if (!holds(list, sizeof(char*))) return {};
        const char* first = nullptr;
        std::memcpy(&first, list, sizeof first);
        const auto length = static_cast<std::size_t>(m_entry.h_length);
        if (!holds(first, length)) return {};
        if (m_entry.h_addrtype == AF_INET6 && length == 16) {
            win::sockaddr_in6 v6{};
            v6.sin6_family = AF_INET6;
            std::memcpy(&v6.sin6_addr, first, length);
            return net::SocketAddress(reinterpret_cast<const win::sockaddr*>(&v6), sizeof v6)
                .hostText();
        }
        std::string dotted;
        for (std::size_t i = 0; i < length; ++i) {
            if (i) dotted += '.';
            dotted += std::to_string(static_cast<unsigned char>(first[i]));
        }
        return dotted;
    }

private:
    bool holds(const char* p, std::size_t n) const {
        const auto at = reinterpret_cast<std::uintptr_t>(p);
        const auto begin = reinterpret_cast<std::uintptr_t>(m_begin);
        const auto end = reinterpret_cast<std::uintptr_t>(m_end);
        return p != nullptr && at >= begin && at <= end && n <= end - at;
    }
    std::string textAt(const char* p) const {
        if (!holds(p, 1)) return {};
        return std::string(p, strnlen(p, static_cast<std::size_t>(m_end - p)));
    }

    const char* m_begin;
    const char* m_end;
    win::hostent m_entry{};
};

} // namespace

DNSx::DNSx() : ToolWindow("DNSx", makeDefinition()) {}

DNSx::~DNSx() {
    // The buffers go with this object, before the base class forgets the window:
    // a lookup still under way must not write into them.
    win::WSADetachWindow(hwnd());
}

ui::WindowDefinition DNSx::makeDefinition() {
    using K = ui::ControlKind;
    ui::WindowDefinition d;
    d.description = "DNS ";
    d.width = 230;
    d.height = 60;
    d.resizable = false;
    ui::ControlDef frame = control(Frame, K::Group, "", 0, 0);
    frame.layout.rowSpan = 2;
    frame.layout.columnSpan = 2;
    ui::ControlDef name = control(NameEntry, K::Entry, "", 0, 1);
    name.chars = static_cast<int>(kNameWidth);
    name.enterButton = IpButton; // a name is looked up for its address, and back
    ui::ControlDef ip = control(IpEntry, K::Entry, "", 1, 1);
    ip.chars = static_cast<int>(kIpWidth);
    ip.enterButton = NameButton;
    d.controls = {
        control(NameButton, K::Button, "Name..", 1, 2),
        frame,
        control(NamePrompt, K::Prompt, "Name:", 0, 0),
        control(IpPrompt, K::Prompt, "IP:", 1, 0),
        control(IpButton, K::Button, "IP..", 0, 2),
        name,
        ip,
    };
    return d;
}

void DNSx::onOpen() {
    // The section counts only when its first key holds something; a missing
    // "NametoIP" then empties the name field.
    const std::string ip =
        text::trimRight(text::cut(ReadSetting(kSection, "IPtoName", ""), kIpWidth));
    if (!ip.empty()) {
        m_ip = ip;
        m_name = text::trimRight(text::cut(ReadSetting(kSection, "NametoIP", ""), kNameWidth));
    }
    model().setValue(IpEntry, m_ip);
    model().setValue(NameEntry, m_name);
    installHook(std::make_shared<net::SocketEventHook>(net::SocketEventHook::Variant::Lookup));
}

void DNSx::onClose() {
    // Nothing may arrive in the buffers once the window is going.
    win::WSADetachWindow(hwnd());
    m_byAddrTask = nullptr;
    m_byNameTask = nullptr;
    takeFields();
    WriteSetting(kSection, "IPtoName", text::trimRight(m_ip));
    WriteSetting(kSection, "NametoIP", text::trimRight(m_name));
}

void DNSx::onControl(int control) {
    if (control == NameButton) lookUpName();
    if (control == IpButton) lookUpAddress();
}

void DNSx::onUserEvent(int event, win::WPARAM, win::LPARAM) {
    if (event == 1027) nameFound();
    if (event == 1028) addressFound();
}

void DNSx::takeFields() {
    m_ip = text::cut(model().value(IpEntry), kIpWidth);
    m_name = text::cut(model().value(NameEntry), kNameWidth);
}

void DNSx::showBox(const std::string& text, const std::string& caption, ui::BoxIcon icon) {
    messageBox(text::trimRight(text), caption, icon, ui::BoxButtons::Ok);
}

void DNSx::lookUpName() {
    takeFields();
    model().setEnabled(IpEntry, false);
    model().setEnabled(NameButton, false);
    m_addressRequest = text::cut(text::trimRight(m_ip), kAddressRequestWidth);
    // An IPv6 address is asked for under ip6.arpa; it is told apart first, as one
    // with an IPv4 tail ("::ffff:10.0.0.1") would otherwise pass for dotted. The
    // unspecified address is refused as 0.0.0.0 is.
    const net::SocketAddress v6 = net::SocketAddress::fromText(m_addressRequest, 0);
    const auto* v6Bytes = reinterpret_cast<const win::sockaddr_in6*>(v6.data());
    const bool isV6 = v6.family() == AF_INET6 && !IN6_IS_ADDR_UNSPECIFIED(&v6Bytes->sin6_addr);
    m_address = isV6 ? 0 : ParseDottedAddress(m_addressRequest);
    if (m_address == 0 && !isV6) {
        // Not an address: nothing is asked and nothing remembered.
        showBox(kBadAddress + m_addressRequest, "", ui::BoxIcon::None);
        model().setEnabled(IpEntry, true);
        model().setEnabled(NameButton, true);
        model().redraw();
        return;
    }
    if (isV6) {
        m_byAddrTask =
            win::WSAAsyncGetHostByAddr6(hwnd(), net::HostByAddrMessage, v6Bytes->sin6_addr,
                                        m_byAddr.bytes, static_cast<int>(ResultSize));
    } else {
        // The address is kept in network byte order: its bytes go as they lie.
        char bytes[4];
        std::memcpy(bytes, &m_address, sizeof bytes);
        m_byAddrTask = win::WSAAsyncGetHostByAddr(hwnd(), net::HostByAddrMessage, bytes, 4, AF_INET,
                                                  m_byAddr.bytes, static_cast<int>(ResultSize));
    }
    if (m_byAddrTask == nullptr) {
        showBox("!? " + m_addressRequest, "", ui::BoxIcon::None);
        model().setEnabled(IpEntry, true);
        model().setEnabled(NameButton, true);
        model().redraw();
    }
    // A valid address is remembered even when its lookup could not start.
    WriteSetting(kSection, "IPtoName", text::trimRight(m_ip));
}

void DNSx::lookUpAddress() {
    takeFields();
    model().setEnabled(NameEntry, false);
    model().setEnabled(IpButton, false);
    // Any name goes, the empty one too: the resolver's answer says what it is worth.
    m_nameRequest = text::trimRight(text::cut(text::trimRight(m_name), kRequestWidth));
    m_byNameV6 = false;
    m_byNameTask = win::WSAAsyncGetHostByName(hwnd(), net::HostByNameMessage, m_nameRequest.c_str(),
                                              m_byName.bytes, static_cast<int>(ResultSize));
    if (m_byNameTask == nullptr) {
        showBox("!? " + m_nameRequest, "", ui::BoxIcon::None);
        model().setEnabled(NameEntry, true);
        model().setEnabled(IpButton, true);
        model().redraw();
    }
    WriteSetting(kSection, "NametoIP", text::trimRight(m_name));
}

void DNSx::nameFound() {
    if (shell::soundOn()) net::PlayCue(*this, "Punch.wav");
    const EntryReader entry(m_byAddr.bytes, ResultSize);
    m_foundName = text::cut(entry.name(), kFoundNameWidth);
    if (!m_foundName.empty())
        showBox(" Host IP: " + m_addressRequest + "| Hosta name: " + m_foundName, "IP - Name",
                ui::BoxIcon::Asterisk);
    else
        showBox(" Host IP: " + m_addressRequest + "| Hosta name:", "IP - Name", ui::BoxIcon::Hand);
    model().setEnabled(IpEntry, true);
    model().setEnabled(NameButton, true);
    m_byAddr = ResultBuffer{};
    m_byAddrTask = nullptr;
    m_foundName.clear();
    model().redraw();
}

bool DNSx::askForIpv6() {
    // The same buffer and completion serve the second try: it was emptied first.
    m_byName = ResultBuffer{};
    m_byNameTask =
        win::WSAAsyncGetHostByName6(hwnd(), net::HostByNameMessage, m_nameRequest.c_str(),
                                    m_byName.bytes, static_cast<int>(ResultSize));
    m_byNameV6 = m_byNameTask != nullptr;
    return m_byNameV6;
}

void DNSx::addressFound() {
    const EntryReader entry(m_byName.bytes, ResultSize);
    // A name without an address answers nothing that was asked: it counts as failed.
    m_foundAddress =
        entry.name().empty() ? std::string() : text::cut(entry.firstAddress(), kFoundAddressWidth);
    // A name with an IPv4 address shows it; one without is asked for IPv6 before
    // anything is shown.
    if (m_foundAddress.empty() && !m_byNameV6 && askForIpv6()) return;
    if (shell::soundOn()) net::PlayCue(*this, "Punch.wav");
    if (!m_foundAddress.empty())
        showBox(" Host IP: " + m_foundAddress + "| Host name: " + m_nameRequest, "Name - IP",
                ui::BoxIcon::Asterisk);
    else
        showBox(" Host IP: ?| Hosta name: " + m_nameRequest, "Name - IP", ui::BoxIcon::Hand);
    model().setEnabled(NameEntry, true);
    model().setEnabled(IpButton, true);
    m_byName = ResultBuffer{};
    m_byNameTask = nullptr;
    m_byNameV6 = false;
    m_foundAddress.clear();
    model().redraw();
}

} // namespace tools
