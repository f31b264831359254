#pragma once
#include "tools/pathmon/hoptable.h"
#include "tools/pathmon/ipv6lookups.h"
#include "tools/pathmon/pathprobe.h"
#include "ui/toolwindow.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <set>

class QSocketNotifier;

namespace tools {

// The path monitor: a traceroute that keeps going. Every interval a round of echo
// requests goes out, one per time-to-live up to the hop where the destination
// answered, all at once; the list shows each hop's loss and times, the chart its
// times over the last ten minutes. Nothing waits on the window's thread: answers
// are read when the socket says so, losses found on the round timer, names looked
// up on workers.
class Path_mon : public ui::ToolWindow {
public:
    enum Control {
        HostPrompt = 1,
        HostEntry,
        IntervalPrompt,
        IntervalEntry,
        CountPrompt,
        CountEntry,
        StartButton,
        StatusField,
        HopList,
        LatencyChart,
    };
    static constexpr int HopLimit = 30;

    Path_mon();
    ~Path_mon() override;
    static ui::WindowDefinition makeDefinition();

    bool running() const { return m_probe != nullptr; }

protected:
    void onOpen() override;
    void onClose() override;
    void onControl(int control) override;
    void onTimer() override;
    void onUserEvent(int event, win::WPARAM wParam, win::LPARAM lParam) override;

private:
    struct LookupBuffer {
        alignas(void*) char bytes[1024];
        std::uint32_t address = 0; // 0: the host's own name, for the run to start
    };

    void start();
    void begin(std::uint32_t target);
    void begin6(const net::SocketAddress& target);
    void begin(std::unique_ptr<PathProbe> probe, const std::string& shown);
    void stop();
    void setRunning(bool running);
    void showStatus(const std::string& text);
    void socketReadable();
    void record(const std::vector<PathProbe::Outcome>& outcomes);
    void showRows();
    void lookUp(std::uint32_t address);
    void lookupDone(win::WPARAM handle, win::LPARAM reply);
    void lookup6Done(win::WPARAM number);

    std::unique_ptr<PathProbe> m_probe;
    std::unique_ptr<QSocketNotifier> m_notifier;
    HopTable m_table;
    net::SocketAddress m_target6; // an IPv6 run's target; empty for IPv4
    int m_pathEnd = HopLimit;     // the hop the destination answered at
    int m_hundredths = 100;       // the interval
    std::chrono::steady_clock::duration m_timeout{};
    long m_count = 0; // rounds to send; 0: until stopped
    long m_sent = 0;  // rounds sent
    std::map<win::WPARAM, std::unique_ptr<LookupBuffer>> m_lookups; // by handle
    std::set<std::uint32_t> m_asked; // addresses whose names were asked for
    std::unique_ptr<Ipv6Lookups> m_lookups6;
    std::uintptr_t m_target6Lookup = 0; // the IPv6 look-up of the host, while out
    std::set<std::uint32_t> m_asked6;   // IPv6 address keys whose names were asked for
};

} // namespace tools
