#pragma once
#include "net/eventlog.h"
#include "platform/winsock.h"
#include "ui/toolwindow.h"

#include <cstdint>
#include <string>

namespace tools {

// The TCP/UDP client: one TCP connection or one connected UDP socket to a server,
// typed lines sent to it, what comes back shown line by line. The mode is the
// second start parameter and stays for the life of the window.
class WS_CLIENT : public ui::ToolWindow {
public:
    enum Control {
        IpPrompt = 1,
        IpEntry,
        PortPrompt,
        PortEntry,
        ConnectButton,
        CommandEntry,
        CommandPrompt,
        SendButton,
        CrLfBox,
        LogList
    };

    WS_CLIENT();
    static ui::WindowDefinition makeDefinition();

protected:
    void onOpen() override;
    void onClose() override;
    void onControl(int control) override;
    void onUserEvent(int event, win::WPARAM wParam, win::LPARAM lParam) override;

private:
    std::string key(const char* name) const; // "TCP" or "UDP" + name
    // The entries into the variables; false, with a beep and the focus on the port
    // entry, when the port does not fit 16 bits (it would name another port).
    bool takeFields();
    void status(const std::string& line);
    void report();
    void connectServer();
    void sendCommand();
    void readReply();

    bool m_tcp = true;                    // ClientMode
    std::string m_serverIp = "127.0.0.1"; // ServerIP
    std::uint16_t m_serverPort = 8010;    // ServerPort
    bool m_crLf = false;                  // CrLfFlag
    std::string m_command;                // Command
    // ClientSocket. None until the first "Connect": here descriptor 0 may be a
    // socket of another window, so "none" must not be 0.
    win::SOCKET m_socket = win::INVALID_SOCKET;
    net::EventLog m_log;
};

} // namespace tools
