#pragma once
#include "platform/winsock.h"
#include "ui/toolwindow.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace tools {

// The host lookup window: "Name.." finds the name of the address in the IP field,
// "IP.." the address of the name in the name field, each through the resolver's
// asynchronous lookups. Each direction has its own buffer and may be pending while
// the other one is; the result is shown in a box and the fields stay as they are.
class DNSx : public ui::ToolWindow {
public:
    enum Control { NameButton = 1, Frame, NamePrompt, IpPrompt, IpButton, NameEntry, IpEntry };

    // The size the window gives the resolver for one host entry.
    static constexpr std::size_t ResultSize = 1016;

    DNSx();
    ~DNSx() override;
    static ui::WindowDefinition makeDefinition();

protected:
    void onOpen() override;
    void onClose() override;
    void onControl(int control) override;
    void onUserEvent(int event, win::WPARAM wParam, win::LPARAM lParam) override;

private:
    // The host entry is laid out at the start of the buffer, its pointers inside it.
    struct alignas(win::hostent) ResultBuffer {
        char bytes[ResultSize] = {};
    };

    void takeFields();
    void lookUpName();    // "Name..": address to name
    void lookUpAddress(); // "IP..": name to address
    void nameFound();     // 1027
    void addressFound();  // 1028
    bool askForIpv6();    // the second try of "IP..", for a name without IPv4
    void showBox(const std::string& text, const std::string& caption, ui::BoxIcon icon);

    std::string m_name = "localhost"; // the name field, 80 characters
    std::string m_ip = "169.254.0.1"; // the IP field, 45 characters (IPv6 too)
    std::string m_addressRequest;     // 45 characters
    std::string m_nameRequest;        // 39 characters
    std::uint32_t m_address = 0;      // network byte order
    ResultBuffer m_byAddr;
    ResultBuffer m_byName;
    win::HANDLE m_byAddrTask = nullptr;
    win::HANDLE m_byNameTask = nullptr;
    // The name had no IPv4 address and its IPv6 look-up is under way.
    bool m_byNameV6 = false;
    std::string m_foundName;    // 80 characters
    std::string m_foundAddress; // 40 characters
};

} // namespace tools
