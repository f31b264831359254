#include "ui/console/scriptdriver.h"

#include "platform/cp1250.h"
#include "platform/text.h"
#include "ui/console/consolefrontend.h"
#include "ui/console/consoleoutput.h"
#include "ui/desktop.h"
#include "ui/toolwindow.h"

#include <chrono>
#include <cstdio>

namespace ui {
namespace {

constexpr int kOpenWaitMs = 10000;

// Waits for a window's handler; a window that closed first just ends the wait.
void settle(std::future<void> f) {
    try {
        f.get();
    } catch (const std::exception&) {
    }
}

bool isNumber(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789.") == std::string::npos;
}

// The rest of `line` after `words` blank-separated words (quotes respected).
std::string restAfter(const std::string& line, int words) {
    std::size_t i = 0;
    for (int w = 0; w < words; ++w) {
        while (i < line.size() && line[i] == ' ') ++i;
        bool quoted = false;
        while (i < line.size() && (quoted || line[i] != ' ')) {
            if (line[i] == '"') quoted = !quoted;
            ++i;
        }
    }
    if (i < line.size() && line[i] == ' ') ++i;
    return line.substr(i);
}

} // namespace

ScriptDriver::ScriptDriver(Desktop& desktop, ConsoleFrontEnd& frontEnd, ConsoleOutput& output)
    : m_desktop(desktop), m_frontEnd(frontEnd), m_output(output) {}

ScriptDriver::~ScriptDriver() { join(); }

void ScriptDriver::start(std::unique_ptr<std::istream> script) {
    m_script = std::move(script);
    m_output.keepHistory(true);
    m_thread = std::thread([this] { run(); });
}

void ScriptDriver::join() {
    if (m_thread.joinable()) m_thread.join();
}

void ScriptDriver::run() {
    std::string line;
    while (!m_quit && std::getline(*m_script, line)) {
        ++m_lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        execute(line);
        // What the command made the windows print is written before the next one.
        m_output.flush();
    }
}

void ScriptDriver::error(const std::string& what) {
    std::fprintf(stderr, "script line %d: %s\n", m_lineNumber, what.c_str());
}

std::vector<std::string> ScriptDriver::split(const std::string& line) {
    std::vector<std::string> words;
    std::string current;
    bool quoted = false, any = false;
    for (char ch : line) {
        if (ch == '"') {
            quoted = !quoted;
            any = true;
        } else if (ch == ' ' && !quoted) {
            if (any) words.push_back(current);
            current.clear();
            any = false;
        } else {
            current += ch;
            any = true;
        }
    }
    if (any) words.push_back(current);
    return words;
}

std::shared_ptr<ToolWindow> ScriptDriver::window(const std::string& name) {
    auto w = m_desktop.waitFor(name, kOpenWaitMs);
    if (!w) error("no window " + name);
    return w;
}

int ScriptDriver::controlNumber(ToolWindow& w, const std::string& word) {
    if (!word.empty() && word.find_first_not_of("0123456789") == std::string::npos)
        return std::stoi(word);
    const ControlDef* c = w.definition().controlByLabel(cp1250::fromUtf8(word));
    if (!c) error("no control " + word + " in " + w.name());
    return c ? c->number : 0;
}

bool ScriptDriver::execute(const std::string& rawLine) {
    const std::string line = text::trimLeft(rawLine);
    if (line.empty() || line[0] == '#') return true;
    const std::vector<std::string> words = split(line);
    const std::string& cmd = words[0];
    auto need = [&](std::size_t n) {
        if (words.size() >= n) return true;
        error("too few words: " + line);
        return false;
    };

    if (cmd == "open") {
        if (!need(2)) return false;
        std::vector<std::string> args;
        for (std::size_t i = 2; i < words.size(); ++i) args.push_back(cp1250::fromUtf8(words[i]));
        if (!m_desktop.start(words[1], args)) error("no procedure " + words[1]);
        return true;
    }
    if (cmd == "menu") {
        if (!need(2)) return false;
        auto frame = window("MainWS");
        if (!frame) return false;
        const std::string path = cp1250::fromUtf8(restAfter(line, 1));
        const MenuItemDef* item = frame->definition().menuItemByPath(path);
        if (!item || item->id == 0) {
            error("no menu item " + path);
            return false;
        }
        const int id = item->id;
        ToolWindow* f = frame.get();
        settle(frame->invoke([f, id] { f->applyMenu(id); }));
        return true;
    }
    if (cmd == "set" || cmd == "press") {
        if (!need(3)) return false;
        auto w = window(words[1]);
        if (!w) return false;
        const int control = controlNumber(*w, words[2]);
        if (control == 0) return false;
        const std::string value = cp1250::fromUtf8(restAfter(line, 3));
        ToolWindow* t = w.get();
        const bool press = cmd == "press";
        bool done = false;
        settle(w->invoke([&, t] {
            done = press ? t->applyPress(control) : t->applyInput(control, value);
        }));
        if (!done) m_output.printUtf8(w->name(), "refused", cmd + " " + std::to_string(control));
        return true;
    }
    if (cmd == "answer") {
        if (!need(2)) return false;
        m_frontEnd.queueBoxAnswer(words[1]);
        return true;
    }
    if (cmd == "choose") {
        if (!need(2)) return false;
        m_frontEnd.queuePopupChoice(static_cast<int>(text::leadingDecimal(words[1])));
        return true;
    }
    if (cmd == "wait") {
        if (!need(2)) return false;
        const double seconds = std::atof(words[1].c_str());
        std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<long>(seconds * 1000)));
        return true;
    }
    if (cmd == "waitfor") {
        if (!need(3)) return false;
        auto w = window(words[1]);
        if (!w) return false;
        std::string wanted = restAfter(line, 2);
        double seconds = 10;
        if (words.size() >= 4 && isNumber(words.back())) {
            seconds = std::atof(words.back().c_str());
            wanted = text::trimRight(wanted.substr(0, wanted.rfind(' ')));
        }
        if (wanted.size() >= 2 && wanted.front() == '"' && wanted.back() == '"')
            wanted = wanted.substr(1, wanted.size() - 2);
        const auto timeout = std::chrono::milliseconds(static_cast<long>(seconds * 1000));
        if (!m_output.waitFor(w->name(), wanted, timeout))
            m_output.printUtf8(w->name(), "timeout", "waitfor " + wanted);
        return true;
    }
    if (cmd == "dump") {
        if (!need(2)) return false;
        auto w = window(words[1]);
        if (!w) return false;
        ToolWindow* t = w.get();
        ConsoleOutput& out = m_output;
        settle(w->invoke([t, &out] {
            const std::string name = t->name();
            WindowModel& m = t->model();
            out.print(name, "dump caption", m.caption());
            for (const ControlDef& c : t->definition().controls) {
                std::string v = c.kind == ControlKind::CheckBox || c.kind == ControlKind::Radio
                                    ? (m.checked(c.number) ? "1" : "0")
                                    : m.value(c.number);
                out.print(name,
                          "dump control " + std::to_string(c.number) + " " +
                              controlKindName(c.kind) + " \"" + ConsoleOutput::escape(c.label) +
                              "\" " + (m.enabled(c.number) ? "enabled" : "disabled"),
                          v);
                if (c.kind == ControlKind::List)
                    for (const Row& r : m.rows(c.number)) {
                        std::string joined;
                        for (std::size_t i = 0; i < r.size(); ++i)
                            joined += (i ? "\t" : "") + ConsoleOutput::escape(r[i]);
                        out.printUtf8(name, "dump row " + std::to_string(c.number), joined);
                    }
            }
            for (int zone = 1; zone <= t->definition().statusZones; ++zone)
                out.print(name, "dump zone " + std::to_string(zone), m.statusZone(zone));
            std::vector<const MenuItemDef*> stack;
            for (const auto& item : t->definition().menu) stack.push_back(&item);
            while (!stack.empty()) {
                const MenuItemDef* item = stack.back();
                stack.pop_back();
                for (const auto& inner : item->items) stack.push_back(&inner);
                if (item->checkItem)
                    out.print(name, "dump menu " + plainLabel(item->label) + " check " +
                                        (m.menuChecked(item->id) ? "1" : "0"));
            }
        }));
        return true;
    }
    if (cmd == "close") {
        if (!need(2)) return false;
        auto w = window(words[1]);
        if (!w) return false;
        w->postClose();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!w->isClosed() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return true;
    }
    if (cmd == "quit") {
        m_quit = true;
        auto frame = window("MainWS");
        if (!frame) {
            m_desktop.closeAll();
            return true;
        }
        const MenuItemDef* exit = frame->definition().menuItemByPath("File/Exit");
        if (exit) {
            ToolWindow* f = frame.get();
            const int id = exit->id;
            settle(frame->invoke([f, id] { f->applyMenu(id); }));
        } else {
            frame->postClose();
        }
        return true;
    }
    error("unknown command: " + cmd);
    return false;
}

const char* ScriptDriver::help() {
    return "Script commands (one a line, # starts a comment):\n"
           "  open PROC [ARG...]         start a procedure (\"quoted args\" may hold blanks)\n"
           "  menu PATH                  choose a frame menu item, e.g. WS/Port blocker/Tcp ports\n"
           "  set WINDOW CONTROL VALUE   type VALUE into a control (number or \"label\")\n"
           "  press WINDOW CONTROL       press a button, toggle a box, choose an option\n"
           "  answer N                   button for the next message box (1 = first)\n"
           "  choose N                   entry for the next popup menu (0 = dismiss)\n"
           "  wait SECONDS               pause\n"
           "  waitfor WINDOW TEXT [SECONDS]  wait for a printed line of WINDOW holding TEXT\n"
           "  dump WINDOW                print the window's caption, controls and lists\n"
           "  close WINDOW               close a window\n"
           "  quit                       close the frame as File/Exit does\n"
           "WINDOW is PROC#N, or PROC for its newest instance.\n";
}

} // namespace ui
