#pragma once
#include "ui/toolwindow.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tools {

// The launcher: one port number, and buttons that start the plain servers and a
// popup that starts the clients with it.
class Unos_porta : public ui::ToolWindow {
public:
    enum Control {
        PortPrompt = 1,
        PortEntry = 2,
        TcpButton = 3,
        UdpButton = 4,
        HttpButton = 5,
        ClientButton = 7
    };

    Unos_porta();
    static ui::WindowDefinition makeDefinition();

protected:
    void onOpen() override;
    void onControl(int control) override;

private:
    // Port = the entry's value; false (with a beep, the focus on the entry and the
    // entry showing Port again) when the value does not fit 16 bits.
    bool takePort();
    void startServer(const char* procedure);
    void startClient();
    void startIfPresent(const std::string& procedure, std::vector<std::string> arguments);

    std::uint16_t m_port = 8088; // Port
    std::string m_portText;      // PortText: Port, blank-padded to 20
};

} // namespace tools
