#pragma once
#include "platform/message.h"

namespace ui {

class ToolWindow;

// A replacement window procedure: it sees every raw message posted to its window
// before the window's earlier procedures. Returning true answers the message (with
// `result`) and stops it there; false passes it on to the procedure installed before.
class MessageHook {
public:
    virtual ~MessageHook() = default;
    virtual bool handle(ToolWindow& window, const win::Message& message, win::LRESULT& result) = 0;
};

} // namespace ui
