#pragma once
#include "ui/event.h"

#include <chrono>
#include <string>

namespace ui {

// An event as one JSON object for machines (--json, --events): the time, the
// window, its procedure, the event's name and one member per thing it carries,
// texts in UTF-8 with control characters escaped as JSON has them. The one place
// that knows each kind's object; events.schema.json describes the same kinds.
class EventJson {
public:
    using Clock = std::chrono::system_clock;
    // Appends the object, without its newline.
    static void append(std::string& out, const Event& event, Clock::time_point when);
    // UTC with milliseconds: "2026-12-07T16:32:43.512Z".
    static void appendTime(std::string& out, Clock::time_point when);
};

} // namespace ui
