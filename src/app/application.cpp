#include "app/application.h"

#include "app/displaycheck.h"
#include "app/mainws.h"
#include "app/signalwatcher.h"
#include "net/syslogalert.h"
#include "settings/placementstore.h"
#include "tools/registertools.h"
#include "ui/console/consolefrontend.h"
#include "ui/console/consoleoutput.h"
#include "ui/console/scriptdriver.h"
#include "ui/console/scriptinput.h"
#include "ui/desktop.h"
#include "ui/eventfile.h"
#include "ui/eventrecorder.h"
#include "ui/procedureregistry.h"
#include "ui/qt/qtfrontend.h"
#include "ui/windowplacement.h"

#include "buildversion.h"

#include <QApplication>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace app {

Options parseOptions(const std::vector<std::string>& args) {
    Options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "--headless") {
            o.headless = true;
        } else if (a == "--syslog") {
            o.syslog = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--script" || a == "--open" || a == "--events") {
            if (i + 1 >= args.size()) {
                o.error = a + " needs a value";
                return o;
            }
            const std::string value = args[++i];
            if (a == "--script") {
                o.script = value;
            } else if (a == "--events") {
                o.events = value;
            } else {
                std::vector<std::string> parts;
                std::size_t start = 0;
                for (;;) {
                    const std::size_t comma = value.find(',', start);
                    parts.push_back(value.substr(start, comma - start));
                    if (comma == std::string::npos) break;
                    start = comma + 1;
                }
                o.opens.push_back(parts);
            }
        } else {
            o.error = "unknown argument: " + a;
            return o;
        }
    }
    if (!o.script.empty() && !o.headless) o.error = "--script needs --headless";
    if (o.json && !o.headless) o.error = "--json needs --headless";
    return o;
}

std::string usage() {
    return std::string(
               "Usage: wstoolbox [--headless [--json] [--script FILE|-]]\n"
               "                 [--open PROC[,ARG...]]... [--syslog] [--events FILE]\n"
               "                 [--version]\n"
               "\n"
               "Without --headless the toolbox opens its frame window. With --headless it\n"
               "runs the same tools without a screen and prints one line per change:\n"
               "  <window> <event> <payload>\n"
               "where <window> is PROC#N. --open starts a procedure at start (repeatable).\n"
               "--syslog sends every hit of the port blockers to the system log (auth).\n"
               "--json prints each change as one JSON object a line instead.\n"
               "--events appends the same JSON lines to FILE, with or without a screen;\n"
               "SIGUSR1 opens FILE again (after log rotation).\n"
               "The settings file VARlo.INI is kept in the current directory.\n\n") +
           ui::ScriptDriver::help();
}

namespace {

ui::ProcedureRegistry makeRegistry() {
    ui::ProcedureRegistry registry;
    tools::registerTools(registry);
    registry.add("MainWS", [] { return std::make_unique<MainWS>(); });
    return registry;
}

int runSession(QCoreApplication& qtApp, ui::FrontEnd& frontEnd, const Options& options,
               std::unique_ptr<ui::ScriptInput> script, ui::ConsoleFrontEnd* console,
               ui::ConsoleOutput* output, ui::EventFile* events,
               const std::function<void(ui::Desktop&)>& attach) {
    PlacementStore store(".\\VarLO.ini");
    ui::setPlacementStore(&store);
    const ui::ProcedureRegistry registry = makeRegistry();
    int status = 0;
    {
        ui::Desktop desktop(frontEnd, registry);
        if (attach) attach(desktop);
        // Log rotation has moved the events file away: later lines go to a new one.
        const auto reopen = [events] {
            if (!events) return;
            if (const std::string error = events->reopen(); !error.empty())
                std::fprintf(stderr, "cannot open %s again: %s\n", events->path().c_str(),
                             error.c_str());
        };
        SignalWatcher signals([&desktop] { desktop.endSession(); }, reopen);

        auto frame = desktop.start("MainWS");
        desktop.setFrame(frame);
        // Tools asked for on the command line start once the frame has opened: it
        // reads the sound switch and starts the sockets layer that they rely on.
        // The frame's thread starts them, so nobody here waits (a box the frame
        // shows needs this thread free).
        frame->invoke([&desktop, opens = options.opens] {
            for (const auto& open : opens) {
                std::vector<std::string> args(open.begin() + 1, open.end());
                if (!desktop.start(open.front(), args))
                    std::fprintf(stderr, "cannot start %s\n", open.front().c_str());
            }
        });

        std::unique_ptr<ui::ScriptDriver> driver;
        if (console && script) {
            driver = std::make_unique<ui::ScriptDriver>(desktop, *console, *output);
            driver->start(std::move(script));
        }
        status = qtApp.exec();
        desktop.closeAll();
        desktop.waitAllClosed(10000);
        ui::setPlacementStore(nullptr);
        store.close();
        if (driver) {
            // A script may still wait for input, a window or a line: it is told to
            // stop and its thread ends before the windows' desktop goes.
            driver->stop();
            driver->join();
            if (status == 0 && driver->failures() > 0) status = 1;
        }
    }
    return status;
}

// The script named on the command line, opened before anything starts so that a
// script that cannot be read ends the program at once; null then.
std::unique_ptr<ui::ScriptInput> openScript(const std::string& name) {
    if (name == "-") return std::make_unique<ui::ScriptInput>(STDIN_FILENO, false);
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<ui::ScriptInput>(fd, true);
}

} // namespace

int run(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const Options options = parseOptions(args);
    if (options.help) {
        std::fputs(usage().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::puts("wstoolbox " WS_VERSION " (" WS_COMMIT ")");
        return 0;
    }
    if (!options.error.empty()) {
        std::fprintf(stderr, "%s\n\n%s", options.error.c_str(), usage().c_str());
        return 2;
    }
    net::setSyslogAlerts(options.syslog);
    std::unique_ptr<ui::ScriptInput> script;
    if (!options.script.empty()) {
        script = openScript(options.script);
        if (!script) {
            std::fprintf(stderr, "cannot read script %s\n", options.script.c_str());
            return 2;
        }
    }
    std::unique_ptr<ui::EventFile> events;
    if (!options.events.empty()) {
        events = std::make_unique<ui::EventFile>();
        if (const std::string error = events->open(options.events); !error.empty()) {
            std::fprintf(stderr, "cannot open %s: %s\n", options.events.c_str(), error.c_str());
            return 2;
        }
    }
    if (options.headless) {
        QCoreApplication qtApp(argc, argv);
        ui::ConsoleOutput output;
        output.setJson(options.json);
        output.setEventFile(events.get());
        ui::ConsoleFrontEnd console(output);
        return runSession(qtApp, console, options, std::move(script), &console, &output,
                          events.get(), {});
    }
    if (!DisplayCheck::available(argc, argv)) return DisplayCheck::refuse();
    DisplayCheck guard;
    QApplication qtApp(argc, argv);
    guard.release();
    ui::QtFrontEnd gui;
    // With an events file the screen's front end is wrapped in a recorder that
    // writes what it shows there, as the console would print it.
    std::unique_ptr<ui::EventRecorder> recorder;
    if (events) recorder = std::make_unique<ui::EventRecorder>(gui, *events);
    ui::FrontEnd& frontEnd = recorder ? static_cast<ui::FrontEnd&>(*recorder) : gui;
    return runSession(qtApp, frontEnd, options, nullptr, nullptr, nullptr, events.get(),
                      [&gui](ui::Desktop& desktop) { gui.setDesktop(&desktop); });
}

} // namespace app
