#pragma once
#include "net/acceptexhaustion.h"
#include "tools/blockers/portblocker.h"

namespace tools {

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
    static ui::WindowDefinition makeDefinition();

protected:
    void afterBind(int slot, win::SOCKET s) override;
    void onAccept(win::SOCKET notified) override;
    void onRead(win::SOCKET notified) override;
    void onClientClose() override;

private:
    void closeClient();

    win::SOCKET m_clientSocket = win::INVALID_SOCKET;
    net::AcceptExhaustion m_exhaustion;
};

} // namespace tools
