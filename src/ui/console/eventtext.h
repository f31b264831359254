#pragma once
#include "ui/event.h"

#include <string>

namespace ui {

// An event as the headless text line prints it, "<window> <event> <payload>":
// the one place that knows each kind's line.
class EventText {
public:
    // Appends the line, without its newline.
    static void append(std::string& line, const Event& event);
};

} // namespace ui
