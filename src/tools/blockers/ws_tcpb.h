#pragma once
#include "net/acceptexhaustion.h"
#include "tools/blockers/portblocker.h"

#include <memory>

namespace tools {

class HalfOpenWatch;

// The TCP port blocker: listens on every port of "Varlo.tcp"; each connection is
// accepted, logged with the peer, closed at once and sounds the alarm.
class WS_TcpB : public PortBlocker {
public:
    enum Control {
        IgnoreLocal = 3,
        Edit = 4,
        AlarmFile = 5,
        SoundSwitch = 6,
        Frame = 7,
        Reload = 8
    };

    WS_TcpB();
    ~WS_TcpB() override;
    static ui::WindowDefinition makeDefinition();

    // Logged once at set-up when the process may not open a raw socket.
    static constexpr const char* HalfOpenUnseen =
        "half-open scans cannot be seen: run as root or setcap cap_net_raw+ep wstoolbox";

protected:
    void afterBind(int slot, win::SOCKET s) override;
    void onAccept(win::SOCKET notified) override;
    void onRead(win::SOCKET notified) override;
    void onClientClose() override;
    void afterSetUp() override;
    void onTimer() override;
    void onClose() override;

private:
    void closeClient();
    // A SYN to the record in `slot` that no connection followed: a hit like an
    // accept, logged with "half-open" in place of the socket.
    void onHalfOpen(std::size_t slot, const net::SocketAddress& peer);

    win::SOCKET m_clientSocket = win::INVALID_SOCKET;
    std::shared_ptr<HalfOpenWatch> m_halfOpen;
    net::AcceptExhaustion m_exhaustion;
};

} // namespace tools
