#pragma once
#include "tools/blockers/portblocker.h"

namespace tools {

// The UDP port blocker: a datagram socket on every port of "Varlo.udp"; each
// datagram is logged with its sender and the start of its content, and sounds
// the alarm.
class WS_UdpB : public PortBlocker {
public:
    enum Control {
        Edit = 3,
        AlarmFile = 4,
        IgnoreLocal = 5,
        SoundSwitch = 6,
        Frame = 7,
        Reload = 8
    };

    WS_UdpB();
    static ui::WindowDefinition makeDefinition();

protected:
    void onRead(win::SOCKET notified) override;
};

} // namespace tools
