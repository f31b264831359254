#pragma once
#include "net/eventlog.h"
#include "platform/portholders.h"
#include "platform/winsock.h"
#include "ui/toolwindow.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tools {

// The local port check: for every port of a range, a socket of the chosen type is
// bound to the port on all local addresses, IPv4 first and then, where IPv4 is
// free, IPv6; a bind refused with WSAEADDRINUSE means something on this machine
// holds the port. Nothing is sent. The scan runs inside the "Go" handler, one
// socket at a time.
class Port_chk : public ui::ToolWindow {
public:
    enum Control {
        Frame = 1,
        RangePrompt,
        FirstEntry,
        ToPrompt,
        LastEntry,
        Progress,
        GoButton,
        TcpOption,
        UdpOption,
        Log,
    };

    Port_chk();
    static ui::WindowDefinition makeDefinition();

    // The progress field: the share done as a whole percentage, right-aligned in
    // three characters, and " %".
    static std::string progressText(std::uint64_t done, std::uint64_t total);

protected:
    void onOpen() override;
    void onClose() override;
    void onControl(int control) override;

private:
    void showValues();
    void takeValues();
    void setGroupEnabled(bool enabled);
    void scan();
    // Tries one port; false when a bind error other than "in use" ends the scan.
    bool probe(std::uint16_t port, bool tcp);
    void probeIpv6(std::uint16_t port, bool tcp);
    void reportIpv6(int code);

    // The entered range, wider than a port so that a number beyond 16 bits is
    // refused rather than wrapped into another port.
    std::uint64_t m_port1 = 8000;
    std::uint64_t m_port2 = 8020;
    std::string m_tip = "TCP"; // "TCP" or "UDP", 3 characters
    win::SOCKET m_scanSocket = win::INVALID_SOCKET;
    // Who holds the ports found in use: read once for a whole scan.
    std::optional<win::PortHolders> m_holders;
    // IPv6 is tried until it fails for a reason other than a port in use: that
    // reason is said once, and the rest of the scan is IPv4 alone.
    bool m_ipv6 = true;
    net::EventLog m_log;
};

} // namespace tools
