#pragma once
#include "net/socketaddress.h"
#include "platform/icmp.h"
#include "ui/toolwindow.h"

#include <cstdint>
#include <memory>

namespace tools {

class EchoService;

// The traceroute window: echo requests to a dotted address with a growing
// time-to-live, one row per answering hop; an IPv6 address, or a name with only
// IPv6 addresses, is traced over ICMPv6 with a growing hop limit. The whole trace runs inside the
// "Go" handler on the window's own thread, the window redrawn after every hop.
class Traceroute : public ui::ToolWindow {
public:
    enum Control { Frame = 1, AddressEntry, GoButton, NodeBox, IpPrompt, HopList };
    static constexpr int HopLimit = 30;
    static constexpr int Attempts = 3;

    Traceroute();
    explicit Traceroute(std::shared_ptr<EchoService> echo);
    static ui::WindowDefinition makeDefinition();

protected:
    void onOpen() override;
    void onClose() override;
    void onControl(int control) override;

private:
    std::string field();
    void setInputEnabled(bool enabled);
    void trace();
    // Sends up to Attempts requests with the time-to-live; false when none was answered.
    bool probe(std::uint8_t ttl);
    ui::Row hopRow(bool node);
    std::string nodeName(bool node);
    std::string nodeName6(bool node);
    net::SocketAddress replyAddress6() const;

    std::shared_ptr<EchoService> m_echo;
    win::EchoReply m_reply;  // its OPTIONS block doubles as the request options
    std::int32_t m_hops = 0; // answering hops listed in this run
    std::uint32_t m_target = 0;
    net::SocketAddress m_target6; // an IPv6 trace's target, else empty
    win::Echo6Reply m_reply6;
    win::IP_OPTION_INFORMATION m_options6; // the hop limit of an IPv6 trace
};

} // namespace tools
