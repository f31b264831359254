#include "tools/info/ws_info.h"

#include "net/shellstate.h"
#include "net/winsockerror.h"
#include "platform/text.h"
#include "platform/winsock.h"

#include <mutex>

namespace tools {
namespace {

constexpr std::size_t kTextWidth = 80;

ui::ControlDef field(int number, int chars, int row) {
    ui::ControlDef c = ui::makeControl(number, ui::ControlKind::Display, "", row, 1);
    c.chars = chars;
    return c;
}

ui::ControlDef prompt(int number, const char* label, int row) {
    return ui::makeControl(number, ui::ControlKind::Prompt, label, row, 0);
}

} // namespace

WS_INFO::WS_INFO() : ToolWindow("WS_INFO", makeDefinition()) {}

ui::WindowDefinition WS_INFO::makeDefinition() {
    ui::WindowDefinition d;
    d.caption = "WS";
    d.description = "WS info";
    d.width = 300;
    d.height = 120;
    d.resizable = false;
    ui::ControlDef initialized = ui::makeControl(Initialized, ui::ControlKind::Prompt,
                                                 "Windows Sockets Initialized Successfully", 5, 0);
    initialized.layout.columnSpan = 2;
    ui::ControlDef ok = ui::makeControl(OkButton, ui::ControlKind::Button, "&OK", 6, 1);
    ok.defaultButton = true;
    d.controls = {prompt(VersionPrompt, "wVersion", 0),
                  field(Version, 20, 0),
                  prompt(DescriptionPrompt, "szDescription", 1),
                  field(Description, static_cast<int>(kTextWidth), 1),
                  prompt(StatusPrompt, "szSystemStatus", 2),
                  field(Status, static_cast<int>(kTextWidth), 2),
                  prompt(MaxSocketsPrompt, "iMaxSockets", 3),
                  field(MaxSockets, 10, 3),
                  prompt(MaxUdpPrompt, "iMaxUdpDg", 4),
                  field(MaxUdp, 10, 4),
                  initialized,
                  ok};
    return d;
}

void WS_INFO::onOpen() {
    // The argument ("nohide" from the menu) changes nothing.
    {
        // Two windows opening at once must not both start the layer.
        static std::mutex startMutex;
        std::lock_guard lock(startMutex);
        if (shell::SocketsStarted.load() == 0) {
            const int result = win::WSAStartup(0x0101, &shell::SocketsData);
            shell::SocketsResult = static_cast<std::int16_t>(result);
            if (result != 0) {
                // Unlike a tool's own start, a failure here leaves the layer counted
                // as not started, so the next window tries again.
                net::ReportWinsockCode(*this, net::ReportVariant::Box, nullptr, result);
                postClose();
                return;
            }
            shell::SocketsStarted = 1;
        }
    }
    const win::WSADATA& data = shell::SocketsData;
    model().setValue(Version, std::to_string(data.wVersion));
    model().setValue(Description, text::cut(data.szDescription, kTextWidth));
    model().setValue(Status, text::cut(data.szSystemStatus, kTextWidth));
    model().setValue(MaxSockets, std::to_string(data.iMaxSockets));
    model().setValue(MaxUdp, std::to_string(data.iMaxUdpDg));
}

void WS_INFO::onControl(int control) {
    if (control == OkButton) postClose();
}

} // namespace tools
