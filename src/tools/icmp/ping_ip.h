#pragma once
#include "platform/icmp.h"
#include "ui/toolwindow.h"

#include <memory>

namespace tools {

class EchoService;

// The ping window: one echo request to a dotted address per press of "Ping", its
// outcome shown in a box. Host names are not resolved.
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
    void ping();

    std::shared_ptr<EchoService> m_echo;
    win::EchoReply m_reply;
};

} // namespace tools
