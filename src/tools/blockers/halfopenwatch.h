#pragma once
#include "net/socketaddress.h"
#include "platform/tcpsynwatcher.h"
#include "tools/blockers/halfopentracker.h"
#include "ui/messagehook.h"

#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

namespace ui {
class ToolWindow;
}

namespace tools {

// The message by which the TCP blocker's raw sockets tell of SYNs waiting.
constexpr win::UINT HalfOpenMessage = win::WM_USER + 120;

// Lets the TCP blocker see half-open (SYN) scans, which end before any accept: the
// scanner's SYN is answered by the kernel, and its reset (or nothing) follows. The
// SYNs to the blocker's ports arrive through a raw socket per family on the
// window's own thread; each is pending until the blocker accepts its connection, and one that
// is still pending a second later is a probe, handed to the blocker as a hit.
class HalfOpenWatch : public ui::MessageHook, public std::enable_shared_from_this<HalfOpenWatch> {
public:
    // A probe to the record in `slot` (from 0) from `peer`.
    using ProbeHandler = std::function<void(std::size_t slot, const net::SocketAddress& peer)>;
    // The window's timer runs this often (hundredths) while attempts are pending, so
    // a probe is told between one second and 1.1 s after its SYN.
    static constexpr int TickHundredths = 10;

    explicit HalfOpenWatch(ProbeHandler onProbe);

    // After each set-up of the blocker's sockets (`sockets` and `sockets6`, the IPv4
    // and IPv6 ones in slot order): watches the ports on which they listen, forgetting
    // earlier ports and attempts. 0, or why half-open scans cannot be seen (WSAEACCES:
    // no raw socket rights); `failedFamily` tells which family's watch failed.
    int start(ui::ToolWindow& window, const win::SOCKET* sockets, const win::SOCKET* sockets6,
              std::size_t count, int* failedFamily = nullptr);
    void stop();
    bool watching() const { return m_watchers[0].isOpen() || m_watchers[1].isOpen(); }
    // The blocker accepted on `listener` a connection from `peer`: no probe.
    void accepted(win::SOCKET listener, const net::SocketAddress& peer);
    // The window's timer.
    void tick();

    bool handle(ui::ToolWindow& window, const win::Message& message, win::LRESULT& result) override;

private:
    struct Port {
        std::size_t slot;
        win::SOCKET listener[2]; // by family: IPv4, IPv6
    };

    // Opens and aims the watcher of one family (0 IPv4, 1 IPv6) at `ports`.
    int watch(int family, const std::vector<std::uint16_t>& ports);
    // Reads up to `limit` queued segments of one family's watcher into the tracker.
    void take(int family, std::size_t limit);
    void report(const HalfOpenTracker::Attempt& attempt);
    void startTicking();
    bool connectionWaiting(std::uint16_t port) const;

    ProbeHandler m_onProbe;
    win::TcpSynWatcher m_watchers[2]; // IPv4, IPv6
    HalfOpenTracker m_tracker;
    std::unordered_map<std::uint16_t, Port> m_ports;
    // The same, by listener of either family: an accept names its port without a
    // system call.
    std::unordered_map<win::SOCKET, std::uint16_t> m_portOf;
    ui::ToolWindow* m_window = nullptr;
    bool m_hooked = false;
    bool m_ticking = false;
    std::vector<win::TcpSyn> m_syns;
};

} // namespace tools
