#pragma once
#include <string>

namespace ui {
class ToolWindow;
}

namespace net {

// Remembers the file as the sound file last asked for and, when the sound switch
// is on, plays it without waiting (a missing file gives the default beep).
void PlayCue(ui::ToolWindow& window, const std::string& file);

} // namespace net
