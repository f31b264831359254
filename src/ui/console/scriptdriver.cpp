#include "ui/console/scriptdriver.h"

#include "platform/cp1250.h"
#include "platform/text.h"
#include "ui/console/consolefrontend.h"
#include "ui/console/consoleoutput.h"
#include "ui/console/scriptinput.h"
#include "ui/console/scriptnumber.h"
#include "ui/desktop.h"
#include "ui/event.h"
#include "ui/listtext.h"
#include "ui/procedureregistry.h"
#include "ui/toolwindow.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <fstream>

namespace ui {
namespace {

constexpr auto kOpenWait = std::chrono::seconds(10);
constexpr auto kCloseWait = std::chrono::seconds(30);
// Waits are cut into slices this long, so that a stopped driver ends them soon.
constexpr auto kSlice = std::chrono::milliseconds(100);
// The longest pause or wait a script may ask for: longer ones are refused rather
// than overflowing the clock (a script that should run for ever just ends
// without `quit`).
constexpr double kLongestWaitSeconds = 1000000;
// A message box has at most three buttons; a popup menu is a short list.
constexpr long long kMostButtons = 3;
constexpr long long kMostMenuEntries = 999;

// Waits for a window's handler; a window that closed first just ends the wait.
void settle(std::future<void> f) {
    try {
        f.get();
    } catch (const std::exception&) {
    }
}

std::chrono::milliseconds toMilliseconds(double seconds) {
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

// The rest of `line` after `words` blank-separated words (quotes respected).
std::string restAfter(const std::string& line, int words) {
    std::size_t i = 0;
    for (int w = 0; w < words; ++w) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        bool quoted = false;
        while (i < line.size() && (quoted || line[i] != ' ')) {
            if (line[i] == '"') quoted = !quoted;
            ++i;
        }
    }
    if (i < line.size() && line[i] == ' ') ++i;
    return line.substr(i);
}

std::string unquoted(std::string text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, text.size() - 2);
    return text;
}

} // namespace

struct ScriptDriver::Command {
    std::string line;
    std::vector<std::string> words;
};

ScriptDriver::ScriptDriver(Desktop& desktop, ConsoleFrontEnd& frontEnd, ConsoleOutput& output)
    : m_desktop(desktop), m_frontEnd(frontEnd), m_output(output) {}

ScriptDriver::~ScriptDriver() {
    stop();
    join();
}

void ScriptDriver::start(std::unique_ptr<std::istream> script) {
    m_stream = std::move(script);
    m_output.keepHistory(true);
    m_thread = std::thread([this] { run(); });
}

void ScriptDriver::start(std::unique_ptr<ScriptInput> script) {
    m_input = std::move(script);
    m_output.keepHistory(true);
    m_thread = std::thread([this] { run(); });
}

void ScriptDriver::stop() {
    {
        std::lock_guard lock(m_stopMutex);
        m_stopping = true;
    }
    m_stopped.notify_all();
    if (m_input) m_input->cancel();
}

void ScriptDriver::join() {
    if (m_thread.joinable()) m_thread.join();
}

void ScriptDriver::run() {
    std::string line;
    while (!m_quit && !m_stopping) {
        if (m_input) {
            const ScriptInput::Result got = m_input->readLine(line);
            if (got == ScriptInput::Result::End) {
                if (m_input->failed()) error("the script could not be read to its end");
                break;
            }
            ++m_lineNumber;
            if (got == ScriptInput::Result::TooLong) {
                error("line longer than " + std::to_string(ScriptInput::LongestLine) +
                      " bytes, skipped");
                continue;
            }
        } else {
            if (!std::getline(*m_stream, line)) break;
            ++m_lineNumber;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        execute(line);
        // What the command made the windows print is written before the next one.
        m_output.flush();
    }
}

bool ScriptDriver::error(const std::string& what) {
    std::fprintf(stderr, "script line %d: %s\n", m_lineNumber, what.c_str());
    return false;
}

bool ScriptDriver::sleepFor(std::chrono::milliseconds time) {
    std::unique_lock lock(m_stopMutex);
    return !m_stopped.wait_for(lock, time, [this] { return m_stopping.load(); });
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
    const auto deadline = std::chrono::steady_clock::now() + kOpenWait;
    // A window that was closed, or a name no window can have, is not waited for.
    if (!m_desktop.find(name) && !m_desktop.mayOpen(name)) {
        error("no window " + name);
        return nullptr;
    }
    while (!m_stopping) {
        if (auto w = m_desktop.waitFor(name, static_cast<int>(kSlice.count()))) return w;
        if (std::chrono::steady_clock::now() >= deadline) break;
    }
    error("no window " + name);
    return nullptr;
}

int ScriptDriver::controlNumber(ToolWindow& w, const std::string& word) {
    const bool digits = !word.empty() && word.find_first_not_of("0123456789") == std::string::npos;
    if (digits) {
        // A number names a control only when the window has one of that number;
        // anything else (too large, not in the window) is refused, never guessed.
        const auto number = scriptnumber::whole(word, 1, INT_MAX);
        if (number && w.definition().control(static_cast<int>(*number)))
            return static_cast<int>(*number);
    } else if (const ControlDef* c = w.definition().controlByLabel(cp1250::fromUtf8(word))) {
        if (c->kind != ControlKind::Prompt) return c->number;
        // A prompt is no input: typing into it would leave the field it labels
        // as it was, and the window would act on the old value.
        const ControlDef* field = w.definition().labelledBy(*c);
        error("control " + word + " of " + w.name() + " is a prompt" +
              (field ? "; it labels control " + std::to_string(field->number) : ""));
        return 0;
    }
    error("no control " + word + " in " + w.name());
    return 0;
}

bool ScriptDriver::execute(const std::string& rawLine) {
    const bool done = perform(rawLine);
    if (!done) ++m_failures;
    return done;
}

bool ScriptDriver::perform(const std::string& rawLine) {
    Command c;
    c.line = text::trimLeft(rawLine);
    if (c.line.empty() || c.line[0] == '#') return true;
    c.words = split(c.line);
    const std::string& cmd = c.words[0];
    struct Entry {
        const char* name;
        std::size_t words;
        bool (ScriptDriver::*run)(const Command&);
    };
    static const Entry commands[] = {
        {"open", 2, &ScriptDriver::open},      {"menu", 2, &ScriptDriver::menu},
        {"set", 3, &ScriptDriver::setOrPress}, {"press", 3, &ScriptDriver::setOrPress},
        {"answer", 2, &ScriptDriver::answer},  {"choose", 2, &ScriptDriver::choose},
        {"wait", 2, &ScriptDriver::pause},     {"waitfor", 3, &ScriptDriver::waitFor},
        {"dump", 2, &ScriptDriver::dump},      {"save", 4, &ScriptDriver::save},
        {"close", 2, &ScriptDriver::close},
    };
    if (cmd == "quit") return quit();
    for (const Entry& e : commands) {
        if (cmd != e.name) continue;
        if (c.words.size() < e.words) return error("too few words: " + c.line);
        return (this->*e.run)(c);
    }
    return error("unknown command: " + cmd);
}

bool ScriptDriver::open(const Command& c) {
    const std::string& procedure = c.words[1];
    std::vector<std::string> args;
    for (std::size_t i = 2; i < c.words.size(); ++i)
        args.push_back(cp1250::fromUtf8(c.words[i]));
    if (m_desktop.start(procedure, args)) return true;
    if (m_desktop.registry().contains(procedure))
        return error(procedure + " is open already: the frame is single-instance");
    return error("no procedure " + procedure);
}

bool ScriptDriver::menu(const Command& c) {
    auto frame = window("MainWS");
    if (!frame) return false;
    const std::string path = cp1250::fromUtf8(restAfter(c.line, 1));
    const MenuItemDef* item = frame->definition().menuItemByPath(path);
    if (!item || item->id == 0) return error("no menu item " + path);
    const int id = item->id;
    ToolWindow* f = frame.get();
    settle(frame->invoke([f, id] { f->applyMenu(id); }));
    return true;
}

bool ScriptDriver::setOrPress(const Command& c) {
    auto w = window(c.words[1]);
    if (!w) return false;
    const int control = controlNumber(*w, c.words[2]);
    if (control == 0) return false;
    const std::string value = cp1250::fromUtf8(restAfter(c.line, 3));
    ToolWindow* t = w.get();
    const bool press = c.words[0] == "press";
    bool done = false;
    settle(w->invoke(
        [&, t] { done = press ? t->applyPress(control) : t->applyInput(control, value); }));
    if (!done) {
        const std::string name = w->name();
        Event refused{Event::Kind::Refused, name};
        refused.word = c.words[0];
        refused.control = control;
        m_output.report(refused);
    }
    return done;
}

bool ScriptDriver::answer(const Command& c) {
    const std::string& wanted = c.words[1];
    bool known = scriptnumber::whole(wanted, 1, kMostButtons).has_value();
    for (int a = IDOK; a <= IDNO && !known; ++a)
        known = wanted == boxAnswerLabel(a);
    if (!known)
        return error("answer " + wanted +
                     ": a button number from 1 to 3, or its label (OK, "
                     "Cancel, Abort, Retry, Ignore, Yes, No)");
    m_frontEnd.queueBoxAnswer(wanted);
    return true;
}

bool ScriptDriver::choose(const Command& c) {
    const auto entry = scriptnumber::whole(c.words[1], 0, kMostMenuEntries);
    if (!entry) return error("choose " + c.words[1] + ": an entry number from 0 to 999");
    m_frontEnd.queuePopupChoice(static_cast<int>(*entry));
    return true;
}

bool ScriptDriver::pause(const Command& c) {
    const auto seconds = scriptnumber::seconds(c.words[1], kLongestWaitSeconds);
    if (!seconds) return error("wait " + c.words[1] + ": seconds from 0 to 1000000");
    sleepFor(toMilliseconds(*seconds));
    return true;
}

bool ScriptDriver::waitFor(const Command& c) {
    auto w = window(c.words[1]);
    if (!w) return false;
    std::string wanted = restAfter(c.line, 2);
    double seconds = 10;
    if (c.words.size() >= 4 && scriptnumber::looksLikeNumber(c.words.back())) {
        const auto given = scriptnumber::seconds(c.words.back(), kLongestWaitSeconds);
        if (!given) return error("waitfor " + c.words.back() + ": seconds from 0 to 1000000");
        seconds = *given;
        wanted = text::trimRight(wanted.substr(0, wanted.rfind(' ')));
    }
    wanted = unquoted(wanted);
    const auto deadline = std::chrono::steady_clock::now() + toMilliseconds(seconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (m_output.waitFor(w->name(), wanted,
                             std::clamp(left, std::chrono::milliseconds(0), kSlice)))
            return true;
        if (left <= kSlice || m_stopping) break;
    }
    const std::string name = w->name();
    Event timeout{Event::Kind::Timeout, name};
    timeout.word = wanted;
    m_output.report(timeout);
    return false;
}

bool ScriptDriver::dump(const Command& c) {
    auto w = window(c.words[1]);
    if (!w) return false;
    ToolWindow* t = w.get();
    ConsoleOutput& out = m_output;
    settle(w->invoke([t, &out] {
        using K = Event::Kind;
        const std::string name = t->name();
        WindowModel& m = t->model();
        const std::string caption = m.caption();
        Event e{K::DumpCaption, name};
        e.text = caption;
        out.report(e);
        for (const ControlDef& ctl : t->definition().controls) {
            const std::string v =
                ctl.kind == ControlKind::CheckBox || ctl.kind == ControlKind::Radio
                    ? (m.checked(ctl.number) ? "1" : "0")
                    : m.value(ctl.number);
            e = {K::DumpControl, name};
            e.control = ctl.number;
            e.word = controlKindName(ctl.kind);
            e.text = ctl.label;
            e.flag = m.enabled(ctl.number);
            e.detail = v;
            out.report(e);
            if (ctl.kind == ControlKind::List)
                for (const Row& r : m.rows(ctl.number)) {
                    e = {K::DumpRow, name};
                    e.control = ctl.number;
                    e.cells = &r;
                    out.report(e);
                }
        }
        for (int zone = 1; zone <= t->definition().statusZones; ++zone) {
            const std::string text = m.statusZone(zone);
            e = {K::DumpZone, name};
            e.number = zone;
            e.text = text;
            out.report(e);
        }
        std::vector<const MenuItemDef*> stack;
        for (const auto& item : t->definition().menu)
            stack.push_back(&item);
        while (!stack.empty()) {
            const MenuItemDef* item = stack.back();
            stack.pop_back();
            for (const auto& inner : item->items)
                stack.push_back(&inner);
            if (item->checkItem) {
                const std::string label = plainLabel(item->label);
                e = {K::DumpMenu, name};
                e.text = label;
                e.flag = m.menuChecked(item->id);
                out.report(e);
            }
        }
    }));
    return true;
}

bool ScriptDriver::save(const Command& c) {
    auto w = window(c.words[1]);
    if (!w) return false;
    const int control = controlNumber(*w, c.words[2]);
    if (control == 0) return false;
    if (w->definition().control(control)->kind != ControlKind::List)
        return error("control " + c.words[2] + " of " + w->name() + " is not a list");
    const std::string file = unquoted(restAfter(c.line, 3));
    // The rows as they stand once everything queued for the window has run.
    std::vector<Row> rows;
    ToolWindow* t = w.get();
    settle(w->invoke([&rows, t, control] { rows = t->model().rows(control); }));
    const std::string content = listText(rows);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (out) out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    if (!out) return error("cannot write " + file);
    const std::string name = w->name();
    Event saved{Event::Kind::Saved, name};
    saved.control = control;
    saved.number = static_cast<long long>(rows.size());
    saved.word = file;
    m_output.report(saved);
    return true;
}

bool ScriptDriver::close(const Command& c) {
    auto w = window(c.words[1]);
    if (!w) return false;
    w->postClose();
    const auto deadline = std::chrono::steady_clock::now() + kCloseWait;
    while (!w->isClosed() && std::chrono::steady_clock::now() < deadline)
        if (!sleepFor(std::chrono::milliseconds(5))) break;
    if (w->isClosed()) return true;
    return error(w->name() + " did not close");
}

bool ScriptDriver::quit() {
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

const char* ScriptDriver::help() {
    return "Script commands (one a line, # starts a comment):\n"
           "  open PROC [ARG...]         start a procedure (\"quoted args\" may hold blanks)\n"
           "  menu PATH                  choose a frame menu item, e.g. WS/Port blocker/Tcp ports\n"
           "  set WINDOW CONTROL VALUE   type VALUE into a control (number or \"label\"; a\n"
           "                             prompt's label is refused: name the field it labels)\n"
           "  press WINDOW CONTROL       press a button, toggle a box, choose an option\n"
           "  answer N                   button for the next message box (1 = first, or its "
           "label)\n"
           "  choose N                   entry for the next popup menu (0 = dismiss)\n"
           "  wait SECONDS               pause (at most 1000000)\n"
           "  waitfor WINDOW TEXT [SECONDS]  wait for a printed line of WINDOW holding TEXT\n"
           "  dump WINDOW                print the window's caption, controls and lists\n"
           "  save WINDOW CONTROL FILE   write a list's rows to FILE, one a line, columns\n"
           "                             separated by tabs; prints WINDOW saved CONTROL ROWS FILE\n"
           "  close WINDOW               close a window\n"
           "  quit                       close the frame as File/Exit does\n"
           "WINDOW is PROC#N, or PROC for its newest instance; a window that has closed,\n"
           "or cannot exist, is refused at once.\n"
           "A command that is refused, fails or times out prints an error line; the script\n"
           "goes on. The exit status is 0 when every command ran, 1 when any did not, and 2\n"
           "when the script cannot be read.\n";
}

} // namespace ui
