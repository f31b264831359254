#pragma once
#include "net/eventlog.h"
#include "net/localhost.h"
#include "net/ownaddresses.h"
#include "net/shellstate.h"
#include "net/socketaddress.h"
#include "platform/winsock.h"
#include "tools/blockers/hitnotices.h"
#include "tools/blockers/portlist.h"
#include "ui/toolwindow.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace net {
class SocketEventHook;
}
namespace win {
class PortHolders;
}

namespace tools {

// What the TCP and the UDP port blocker share: the port list and its file, the
// log, the settings, the start-up sequence, the set-up loop, close-all, Reload,
// the hit count and the alarm. Each blocker adds its own socket handlers.
class PortBlocker : public ui::ToolWindow {
public:
    // The texts and control numbers in which the two blockers differ.
    struct Traits {
        const char* procedure;  // "WS_TcpB"
        const char* protocol;   // "TCP": socket, port and caption lines
        const char* section;    // settings section, "Tcp block"
        const char* fileName;   // "Varlo.tcp"
        int socketType;         // SOCK_STREAM or SOCK_DGRAM
        int ignoreLocalControl; // the "ignore local Ip" check box
        int editControl;
        int alarmControl;
        int soundControl;
        int reloadControl;
    };

    static constexpr int LogControl = 1;
    static constexpr int PortsControl = 2;
    static constexpr int LogWidth = 80;

    PortBlocker(const Traits& traits, ui::WindowDefinition definition);

    // The listening sockets of the records, as the set-up loop left them: IPv4,
    // and beside each the same port on IPv6 (IPv6-only, so the two never collide).
    const std::array<win::SOCKET, portlist::SocketSlots>& socketTable() const { return m_sockets; }
    const std::array<win::SOCKET, portlist::SocketSlots>& socketTable6() const {
        return m_sockets6;
    }
    std::int32_t hits() const { return m_hits; }

    // The list control and the settings for both blockers; the controls after the
    // two lists are given in their documented order.
    static ui::WindowDefinition makeDefinition(const char* caption, const char* description,
                                               int portColumnWidth,
                                               std::vector<ui::ControlDef> controls);
    static ui::ControlDef control(int number, ui::ControlKind kind, const char* label,
                                  ui::LayoutHint layout);
    // The entry for the alarm's wave file, 20 characters, "Alarm.wav" at first.
    static ui::ControlDef alarmEntry(int number, ui::LayoutHint layout);

protected:
    void onOpen() override;
    void onClose() override;
    void onControl(int control) override;
    void onUserEvent(int event, win::WPARAM wParam, win::LPARAM lParam) override;

    // The socket events of the server hook: 1126, 1127, 1128, with the socket
    // whose notification raised them.
    virtual void onAccept(win::SOCKET /*notified*/) {}
    virtual void onRead(win::SOCKET /*notified*/) {}
    virtual void onClientClose() {}
    // The TCP blocker listens between bind and registration; the UDP one does not.
    virtual void afterBind(int /*slot*/, win::SOCKET /*s*/) {}
    // Every set-up ends here, also one that found no ports.
    virtual void afterSetUp() {}

    net::EventLog& log() { return m_log; }
    const PortList& portList() const { return m_portList; }
    // The records that have a socket slot.
    std::size_t slotCount() const;
    const net::LocalHost& host() const { return m_host; }
    std::uint16_t currentPort() const { return m_currentPort; }
    const Traits& traits() const { return m_traits; }

    // Hits += 1, wrapping as a 32-bit counter would rather than overflowing.
    void countHit();
    struct Announced {
        std::size_t slot;
        win::SOCKET socket;
    };
    // The sockets, in list order (a record's IPv4 socket before its IPv6 one), that
    // the window has been told have a connection (FD_ACCEPT) or a datagram (FD_READ)
    // waiting: the search calls only these, so its cost does not grow with the
    // length of the list.
    std::vector<Announced> announcedSockets(long event);
    // A hit searches the sockets in list order and may take a connection or
    // datagram from an earlier socket than the one whose notification raised it.
    // That notification is then spent while its own socket, never called, stays
    // silent under Winsock's rules: the trap would go deaf on that port. Asking
    // for its notifications again posts one when something is waiting.
    void keepNotified(win::SOCKET notified, win::SOCKET taken);
    // "<protocol> blocker <host name> (<host IP>)"
    std::string blockerCaption() const;
    // ReportWinsockError, the blockers' variant: the name as a log line, "Error.wav".
    void reportError();
    void reportError(int code);
    // The peer is this machine as the check box means it: 127.0.0.1 or the host IP,
    // ::1 or any of the host's own IPv6 addresses.
    bool ignoredPeer(const net::SocketAddress& peer);
    // ClientAddress = "<dotted>:<port>" or "[<IPv6>]:<port>".
    void setClientAddress(const net::SocketAddress& peer);
    const std::string& clientAddress() const { return m_clientAddress; }
    // "<port text> <description>" of a record, without trailing blanks.
    static std::string recordText(const PortRecord& record);
    // The alarm, when the sound switch is on.
    void playAlarm();
    // A logged hit beyond the log: in the system log, when --syslog or the
    // section's "Syslog" asks for it, and as a desktop notification, rate-limited,
    // unless the section's "Notify" is 0. The port is the one `local` is bound to.
    void alertHit(win::SOCKET local, const PortRecord& record, const net::SocketAddress& peer,
                  bool halfOpen = false);

private:
    void readSettings();
    void writeSettings();
    void loadPortList();
    void setUpSockets();
    // The record's port on IPv6, beside its IPv4 socket: silent when it works; a
    // failure is logged with " (IPv6)" when the IPv4 socket is trapping, since a port
    // neither family can bind has been reported once already. True when it traps.
    bool setUpSocket6(std::size_t slot, bool v4Bound, win::PortHolders& holders);
    void reportError6(int code);
    // "<n> ports set up from <full path of the list>", after every set-up.
    void logListSource(std::size_t ready);
    void closeAll();
    // Desktop notifications for the hits: on when the section and the front end
    // allow them, else a line saying why not (once, at open).
    void startNotices();
    void notifyHit(std::uint16_t port, const PortRecord& record, const std::string& peer);
    // Shows the summary of the waiting hits when it is due, else waits until it is.
    void sendSummary();
    void reload();
    void edit();

    Traits m_traits;
    net::EventLog m_log;
    std::shared_ptr<net::SocketEventHook> m_hook;
    PortList m_portList;
    std::array<win::SOCKET, portlist::SocketSlots> m_sockets;
    std::array<win::SOCKET, portlist::SocketSlots> m_sockets6;
    // The place of each socket in the search order: slot * 2, + 1 for IPv6.
    std::unordered_map<win::SOCKET, std::size_t> m_orderOf;
    bool m_noIpv6 = false; // this set-up found IPv6 missing and said so once
    net::OwnAddresses m_ownAddresses;
    net::LocalHost m_host;
    std::uint16_t m_currentPort = 0;
    std::int32_t m_hits = 0;
    std::string m_clientAddress;
    std::unique_ptr<shell::SoundWatch> m_soundWatch;
    bool m_syslog = false;
    bool m_notify = true;                  // the section's "Notify"
    std::unique_ptr<HitNotices> m_notices; // null while notifications are off
    bool m_summaryWaits = false;           // a call to sendSummary is on its way
};

} // namespace tools
