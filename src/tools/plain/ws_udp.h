#pragma once
#include "tools/plain/plainserver.h"

namespace tools {

// The UDP server: binds one port and logs every datagram with its sender, as
// received. It answers nothing.
class WS_Udp : public PlainServer {
public:
    WS_Udp();

protected:
    void beforeBind() override;
    void onReadEvent(win::SOCKET notified) override;
};

} // namespace tools
