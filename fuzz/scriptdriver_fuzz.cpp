// The script driver's command handling: whatever a script line says, it is run,
// refused or reported, and the driver and the window it drives go on. The lines go
// to one window, "Form", that stays open; commands that only pause (wait,
// waitfor), open or close windows, or wait for the frame (menu, quit) are left out
// so that one input takes microseconds, not seconds.
#include "ui/console/consolefrontend.h"
#include "ui/console/consoleoutput.h"
#include "ui/console/scriptdriver.h"
#include "ui/desktop.h"
#include "ui/procedureregistry.h"
#include "ui/toolwindow.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

namespace {

ui::WindowDefinition formDefinition() {
    ui::WindowDefinition d;
    d.caption = "Form";
    auto add = [&](int n, ui::ControlKind kind, const char* label, bool enabled = true) {
        ui::ControlDef c;
        c.number = n;
        c.kind = kind;
        c.label = label;
        c.enabled = enabled;
        d.controls.push_back(c);
    };
    add(1, ui::ControlKind::Entry, "Port:");
    add(2, ui::ControlKind::Button, "&Send ");
    add(3, ui::ControlKind::Button, "Off", false);
    add(4, ui::ControlKind::CheckBox, "sound");
    add(5, ui::ControlKind::Radio, "Tcp");
    add(6, ui::ControlKind::Radio, "Udp");
    add(7, ui::ControlKind::List, "");
    return d;
}

class FormWindow : public ui::ToolWindow {
public:
    FormWindow() : ToolWindow("Form", formDefinition()) {}
    bool usesPlacement() const override { return false; }

protected:
    void onControl(int control) override {
        if (control == 2) {
            const int answer = messageBox("Send|" + model().value(1), "Q", ui::BoxIcon::Question,
                                          ui::BoxButtons::YesNoCancel);
            model().appendRow(7, {"answer", std::to_string(answer)});
        }
        if (control == 4) model().setCaption(model().checked(4) ? "Form on" : "Form off");
        if (control == 6) popupMenu("Tcp|Udp|-|Http");
    }
};

// The window and the driver; made afresh now and then, as answers and choices a
// script queues but never uses would otherwise pile up from input to input.
struct Session {
    static inline std::FILE* sink = std::fopen("/dev/null", "w");
    ui::ConsoleOutput output{sink};
    ui::ConsoleFrontEnd frontEnd{output};
    ui::ProcedureRegistry registry;
    std::unique_ptr<ui::Desktop> desktop;
    std::unique_ptr<ui::ScriptDriver> driver;

    Session() {
        registry.add("Form", [] { return std::make_unique<FormWindow>(); });
        desktop = std::make_unique<ui::Desktop>(frontEnd, registry);
        desktop->start("Form");
        if (!desktop->waitFor("Form", 10000)) std::abort();
        driver = std::make_unique<ui::ScriptDriver>(*desktop, frontEnd, output);
    }
};

bool leftOut(const std::vector<std::string>& words) {
    if (words.empty()) return false;
    const std::string& cmd = words[0];
    if (cmd == "wait" || cmd == "waitfor" || cmd == "open" || cmd == "close" || cmd == "quit" ||
        cmd == "menu")
        return true;
    // Any other window would be waited for (ten seconds) before the line fails.
    const bool toWindow = cmd == "set" || cmd == "press" || cmd == "dump";
    return toWindow && words.size() >= 2 && words[1] != "Form" && words[1] != "Form#1";
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::unique_ptr<Session> current;
    static int inputs = 0;
    if (!current || ++inputs % 500 == 0) {
        current.reset();
        current = std::make_unique<Session>();
    }
    Session& session = *current;
    const std::string script(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    for (int lines = 0; start <= script.size() && lines < 32; ++lines) {
        std::size_t end = script.find('\n', start);
        if (end == std::string::npos) end = script.size();
        std::string line = script.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto words = ui::ScriptDriver::split(line);
        if (leftOut(words)) continue;
        session.driver->execute(line);
    }
    // The window still answers: its thread came through every command.
    if (!session.desktop->find("Form")) std::abort();
    auto probe = session.desktop->find("Form")->invoke([] {});
    if (probe.wait_for(std::chrono::seconds(10)) != std::future_status::ready) std::abort();
    return 0;
}
