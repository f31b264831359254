#pragma once
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

// The message by which the TCP blocker's raw socket tells of SYNs waiting.
constexpr win::UINT HalfOpenMessage = win::WM_USER + 120;

// Lets the TCP blocker see half-open (SYN) scans, which end before any accept: the
// scanner's SYN is answered by the kernel, and its reset (or nothing) follows. The
// SYNs to the blocker's ports arrive through a raw socket on the window's own
// thread; each is pending until the blocker accepts its connection, and one that
// is still pending a second later is a probe, handed to the blocker as a hit.
class HalfOpenWatch : public ui::MessageHook, public std::enable_shared_from_this<HalfOpenWatch> {
public:
    // A probe to the record in `slot` (from 0) from `peer`.
    using ProbeHandler = std::function<void(std::size_t slot, const win::sockaddr_in& peer)>;
    // The window's timer runs this often (hundredths) while attempts are pending, so
    // a probe is told between one second and 1.1 s after its SYN.
    static constexpr int TickHundredths = 10;

    explicit HalfOpenWatch(ProbeHandler onProbe);

    // After each set-up of the blocker's sockets (`sockets`, in slot order): watches
    // the ports on which they listen, forgetting earlier ports and attempts. 0, or
    // why half-open scans cannot be seen (WSAEACCES: no raw socket rights).
    int start(ui::ToolWindow& window, const win::SOCKET* sockets, std::size_t count);
    void stop();
    bool watching() const { return m_watcher.isOpen(); }
    // The blocker accepted on `listener` a connection from `peer`: no probe.
    void accepted(win::SOCKET listener, const win::sockaddr_in& peer);
    // The window's timer.
    void tick();

    bool handle(ui::ToolWindow& window, const win::Message& message, win::LRESULT& result) override;

private:
    struct Port {
        std::size_t slot;
        win::SOCKET listener;
    };

    // Reads up to `limit` queued segments into the tracker.
    void take(std::size_t limit);
    void report(const HalfOpenTracker::Attempt& attempt);
    void startTicking();
    bool connectionWaiting(std::uint16_t port) const;

    ProbeHandler m_onProbe;
    win::TcpSynWatcher m_watcher;
    HalfOpenTracker m_tracker;
    std::unordered_map<std::uint16_t, Port> m_ports;
    // The same, by listener: an accept names its port without a system call.
    std::unordered_map<win::SOCKET, std::uint16_t> m_portOf;
    ui::ToolWindow* m_window = nullptr;
    bool m_hooked = false;
    bool m_ticking = false;
    std::vector<win::TcpSyn> m_syns;
};

} // namespace tools
