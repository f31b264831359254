#pragma once
#include "ui/messagehook.h"

namespace net {

// A connection its peer reset ends with FD_CLOSE carrying the error, which the
// socket event hook drops like every notification with an error: a server would
// never hear of it and keep the dead connection's socket for good, so a flood of
// resets would take all its descriptors. Installed after the server hook, this
// one turns that notification into the close event (1128) for the connection it
// names, as a graceful close gives; every other message goes on unchanged.
class ResetCloseHook : public ui::MessageHook {
public:
    bool handle(ui::ToolWindow& window, const win::Message& message, win::LRESULT& result) override;
};

} // namespace net
