#include "app/mainws.h"

#include "net/shellstate.h"
#include "net/socketeventhook.h"
#include "net/soundcue.h"
#include "platform/notifyicon.h"
#include "platform/text.h"
#include "platform/winsock.h"
#include "settings/settingsfile.h"
#include "ui/desktop.h"
#include "ui/procedureregistry.h"

namespace app {
namespace {

// The weekday names as one table of 9-character blank-padded entries, Sunday first.
constexpr char kWeekdays[] = "Sunday   Monday   Tuesday  WednesdayThursday Friday   Saturday ";
constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};

using ui::menuItem;
using ui::menuSeparator;
using ui::submenu;

} // namespace

MainWS::MainWS() : ToolWindow("MainWS", makeDefinition()) {}

ui::WindowDefinition MainWS::makeDefinition() {
    using ui::StandardAction;
    ui::WindowDefinition d;
    d.caption = "WS by QN";
    d.description = "Brivel by Dovak.";
    d.x = 0;
    d.y = 0;
    d.width = 500;
    d.height = 320;
    d.background = "Back.gif";
    d.statusZones = 3;
    ui::MenuItemDef sound = menuItem(SoundItem, "Sound", "Sound on/off");
    sound.checkItem = true;
    ui::MenuItemDef window =
        submenu("&Window", "Create and Arrange windows",
                {menuItem(Tile, "T&ile", "Make all open windows visible", StandardAction::Tile),
                 menuItem(Cascade, "&Cascade", "Stack all open windows", StandardAction::Cascade),
                 menuItem(ArrangeIcons, "&Arrange Icons", "Align all window icons",
                          StandardAction::ArrangeIcons)});
    window.windowList = true;
    d.menu = {
        submenu(
            "&File", "",
            {menuItem(PrintSetup, "P&rint Setup...", "Setup Printer", StandardAction::PrintSetup),
             menuSeparator(), menuItem(Exit, "E&xit", "Exit this application")}),
        submenu("WS", "Brivel",
                {submenu("Info", "ws Info",
                         {menuItem(SocketInfo, "Socket info", "ws Info"),
                          menuItem(Services, "Services", "ws Services"),
                          menuItem(Protocols, "Protocols", "ws Protocols")}),
                 submenu("Client", "Tcp or udp client",
                         {menuItem(ClientTcp, "Tcp", "Tcp client"),
                          menuItem(ClientUdp, "Udp", "Udp client"), menuSeparator(),
                          menuItem(ClientHttp, "Http", "HTTP client (get URL)"),
                          menuItem(ClientHttpAsync, "Http async.", "Async. Http get page")}),
                 menuSeparator(),
                 submenu("Port blocker", "Port blocker",
                         {menuItem(TcpPorts, "Tcp ports ", "TCP ports blocker"),
                          menuItem(UdpPorts, "Udp ports", "Udp ports blocker")}),
                 menuItem(PortScan, "Port scan", "Port scan"), menuItem(Ping, "Ping ", "Ping IP"),
                 menuItem(Traceroute, "Traceroute", "Traceroute IP"),
                 menuItem(PathMonitor, "Path monitor", "Monitor the path to an IP address"),
                 menuSeparator(),
                 menuItem(InternetStatus, "Internet status", "Internet status"), sound,
                 menuSeparator(), menuItem(About, "About", "About program")}),
        submenu("&Edit", "",
                {menuItem(Cut, "Cu&t", "Remove item to Windows Clipboard", StandardAction::Cut),
                 menuItem(Copy, "&Copy", "Copy item to Windows Clipboard", StandardAction::Copy),
                 menuItem(Paste, "&Paste", "Paste contents of Windows Clipboard",
                          StandardAction::Paste)}),
        window,
        submenu("&Help", "Windows Help",
                {menuItem(HelpContents, "&Contents", "View the contents of the help file",
                          StandardAction::HelpContents),
                 menuItem(HelpSearch, "&Search for Help On...", "Search for help on a subject",
                          StandardAction::HelpSearch),
                 menuItem(HelpOnHelp, "&How to Use Help", "How to use Windows Help",
                          StandardAction::HelpOnHelp)}),
    };
    return d;
}

const char* MainWS::procedureFor(int id) {
    switch (id) {
    case SocketInfo:
        return "WS_INFO";
    case Services:
        return "WS_SERVIS";
    case Protocols:
        return "WS_PROTO";
    case ClientTcp:
    case ClientUdp:
        return "WS_CLIENT";
    case ClientHttp:
        return "ws_HClient";
    case ClientHttpAsync:
        return "Http_asy";
    case TcpPorts:
        return "WS_TcpB";
    case UdpPorts:
        return "WS_UdpB";
    case PortScan:
        return "Port_chk";
    case Ping:
        return "Ping_ip";
    case Traceroute:
        return "Traceroute";
    case PathMonitor:
        return "Path_mon";
    case InternetStatus:
        return "Inet_stat";
    }
    return nullptr;
}

std::string MainWS::dateText(const std::tm& local) {
    const std::string weekday = text::trimRight(std::string(kWeekdays + 9 * local.tm_wday, 9));
    return weekday + ", " + kMonths[local.tm_mon] + " " + std::to_string(local.tm_mday) + ", " +
           std::to_string(1900 + local.tm_year);
}

std::string MainWS::timeText(const std::tm& local) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    return buf;
}

void MainWS::showClock() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    model().setStatusZone(2, dateText(local));
    model().setStatusZone(3, timeText(local));
}

void MainWS::reset() {
    if (timerPeriod() < 1 || timerPeriod() > 100) setTimer(100);
    showClock();
}

void MainWS::onOpen() {
    m_hook = std::make_shared<net::SocketEventHook>(net::SocketEventHook::Variant::Frame);
    installHook(m_hook);
    reset();

    m_soundWatch = std::make_unique<shell::SoundWatch>(
        [this](bool on) { model().setMenuChecked(SoundItem, on); });
    const std::string sound = ReadSetting("VARlo Settings", "Sound", "", ".\\VARlo.INI");
    if (!text::trimRight(sound).empty())
        shell::setSound(static_cast<std::uint8_t>(text::leadingInteger(sound)));
    model().setMenuChecked(SoundItem, shell::soundOn());

    if (shell::SocketsStarted.load() == 0) {
        const int result = win::WSAStartup(0x0101, &shell::SocketsData);
        shell::SocketsResult = static_cast<std::int16_t>(result);
        if (result != 0) {
            net::PlayCue(*this, "Problem.wav");
            messageBox("Houston, we have a problem...", "", ui::BoxIcon::None, ui::BoxButtons::Ok);
            postClose();
        }
        shell::SocketsStarted = 1;
    }
    showNotifyIcon();
    startIfPresent("DNSx", {});
    startIfPresent("Unos_porta", {});
}

void MainWS::notifyIcon(win::DWORD message, win::UINT flags) {
    win::NOTIFYICONDATAA data;
    data.hWnd = hwnd();
    data.uID = kNotifyIconId;
    data.uFlags = flags;
    data.uCallbackMessage = net::NotifyIconMessage;
    data.hIcon = m_icon;
    const std::string tip = text::cut(text::trimRight(definition().caption), sizeof data.szTip - 1);
    tip.copy(data.szTip, tip.size());
    win::Shell_NotifyIconA(message, &data);
}

void MainWS::showNotifyIcon() {
    // Where the desktop has no notification area the call fails and nothing shows;
    // the frame works as before.
    m_icon = win::ProgramIcon;
    notifyIcon(win::NIM_ADD, win::NIF_MESSAGE | win::NIF_ICON | win::NIF_TIP);
}

void MainWS::startIfPresent(const std::string& procedure, std::vector<std::string> arguments) {
    if (desktop() && desktop()->registry().contains(procedure))
        startProcedure(procedure, std::move(arguments));
}

void MainWS::onTimer() {
    showClock();
}

void MainWS::about() {
    beep();
    messageBox("  WS toolbox|  made with C++ and Qt|  by|  |  maintainers@wstoolbox.invalid|"
               "  support@wstoolbox.invalid",
               "WS", ui::BoxIcon::Asterisk, ui::BoxButtons::Ok);
}

void MainWS::onMenu(int id) {
    switch (id) {
    case Exit:
        postClose();
        return;
    case SoundItem:
        shell::setSound(shell::soundOn() ? 0 : 1);
        return;
    case About:
        about();
        return;
    case SocketInfo:
    case Services:
    case Protocols:
        startIfPresent(procedureFor(id), {"nohide"});
        return;
    case ClientTcp:
        startIfPresent("WS_CLIENT", {"", "TCP"});
        return;
    case ClientUdp:
        startIfPresent("WS_CLIENT", {"", "UDP"});
        return;
    case ClientHttp:
        startIfPresent("ws_HClient", {"", "", ""});
        return;
    case Traceroute:
        startIfPresent("Traceroute", {"  "});
        return;
    default:
        if (const char* procedure = procedureFor(id)) startIfPresent(procedure, {});
    }
}

void MainWS::onUserEvent(int event, win::WPARAM, win::LPARAM) {
    if (event == 1024) {
        postClose();
        return;
    }
    if (!m_hook || m_hook->iconId() != kNotifyIconId) return;
    // The notification-area icon: its menu on a right click, the other of its two
    // images on a double click.
    if (event == 1090) {
        switch (popupMenu("Hide window|Unhide window|-|Close")) {
        case 1:
            model().setVisible(false);
            break;
        case 2:
            model().setVisible(true);
            break;
        case 3:
            postClose();
            break;
        }
    } else if (event == 1091) {
        m_icon = m_icon == win::ProgramIcon ? win::AlertIcon : win::ProgramIcon;
        notifyIcon(win::NIM_MODIFY, win::NIF_ICON);
    }
}

void MainWS::onClose() {
    // The tools close first, while the sockets layer still runs: ended under them,
    // every closesocket of their close handlers would fail and sound an error.
    notifyIcon(win::NIM_DELETE, 0);
    if (desktop()) desktop()->closeToolsAndWait(15000);
    if (shell::SocketsStarted.load() == 1) win::WSACleanup();
    m_soundWatch.reset();
    WriteSetting("VARlo Settings", "Sound", std::to_string(shell::Sound.load()), ".\\VARlo.INI");
}

void MainWS::afterClose() {
    if (desktop()) desktop()->frameClosed();
}

} // namespace app
