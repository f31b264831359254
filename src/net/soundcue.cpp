#include "net/soundcue.h"

#include "net/shellstate.h"
#include "platform/text.h"
#include "ui/frontend.h"
#include "ui/toolwindow.h"

namespace net {

void PlayCue(ui::ToolWindow& window, const std::string& file) {
    shell::setSoundFile(file);
    if (!shell::soundOn()) return;
    if (ui::FrontEnd* f = window.frontEnd()) f->playSound(&window, text::trimRight(shell::soundFile()));
}

} // namespace net
