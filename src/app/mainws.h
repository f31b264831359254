#pragma once
#include "net/shellstate.h"
#include "ui/toolwindow.h"

#include <ctime>
#include <memory>
#include <string>

namespace net {
class SocketEventHook;
}

namespace app {

// The frame: its menu starts the tools, its status bar shows the date and time,
// it holds the sound switch and starts and ends the sockets layer for the process.
class MainWS : public ui::ToolWindow {
public:
    // Menu item ids.
    enum Item {
        PrintSetup = 101,
        Exit,
        SocketInfo,
        Services,
        Protocols,
        ClientTcp,
        ClientUdp,
        ClientHttp,
        ClientHttpAsync,
        TcpPorts,
        UdpPorts,
        PortScan,
        Ping,
        Traceroute,
        InternetStatus,
        SoundItem,
        About,
        Cut,
        Copy,
        Paste,
        Tile,
        Cascade,
        ArrangeIcons,
        HelpContents,
        HelpSearch,
        HelpOnHelp,
        PathMonitor, // ours, after the items of old, so their ids stay
    };
    static constexpr int kNotifyIconId = 100;

    MainWS();
    static ui::WindowDefinition makeDefinition();
    static const char* procedureFor(int item);

    // Status zone 2 and 3 texts for a moment.
    static std::string dateText(const std::tm& local);
    static std::string timeText(const std::tm& local);

protected:
    void onOpen() override;
    void onClose() override;
    void onMenu(int id) override;
    void onTimer() override;
    void onUserEvent(int event, win::WPARAM wParam, win::LPARAM lParam) override;
    void afterClose() override;

private:
    void reset();
    void startIfPresent(const std::string& procedure, std::vector<std::string> arguments);
    void showClock();
    void about();
    // The notification-area icon: added at open with the program's image and the
    // caption as its tip, removed at close.
    void showNotifyIcon();
    void notifyIcon(win::DWORD message, win::UINT flags);

    std::shared_ptr<net::SocketEventHook> m_hook;
    std::unique_ptr<shell::SoundWatch> m_soundWatch; // the Sound item's check mark
    int m_icon = 0; // the notification-area icon's image (win::HICON)
};

} // namespace app
