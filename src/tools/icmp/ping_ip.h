#pragma once
#include "net/socketaddress.h"
#include "platform/icmp.h"
#include "ui/toolwindow.h"

#include <memory>

namespace tools {

class EchoService;

// The ping window: one echo request to a dotted address per press of "Ping", its
// outcome shown in a box. An IPv6 address, or a name that has only IPv6
// addresses, is pinged over ICMPv6; other names are not resolved.
class Ping_ip : public ui::ToolWindow {
public:
    enum Control { IpPrompt = 1, PingButton, AddressEntry };

    Ping_ip();
    explicit Ping_ip(std::shared_ptr<EchoService> echo);
    static ui::WindowDefinition makeDefinition();

protected:
    void onOpen() override;
    void onClose() override;
    void onControl(int control) override;

private:
    std::string field();
    std::string wideField();
    void ping();
    // The box's text for an IPv6 destination.
    std::string ping6(const std::string& entry, const net::SocketAddress& destination);

    std::shared_ptr<EchoService> m_echo;
    win::EchoReply m_reply;
    win::Echo6Reply m_reply6;
};

} // namespace tools
