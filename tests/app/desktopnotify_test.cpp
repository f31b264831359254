// The GUI under Xvfb in a D-Bus session of its own, with a notification daemon
// (dunst) and a tray (trayer): a trap's hits become rate-limited notifications, a
// click on one brings the window back, and the tray icon's menu acts on the frame.
#include "app/program.h"
#include "platform/scratchdir.h"
#include "support/loopbackports.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

namespace {

using namespace std::chrono;

// Runs a shell command after `env` (the test's display and bus); what it printed.
std::string sh(const std::string& env, const std::string& command) {
    std::string out;
    if (FILE* p = ::popen((env + " " + command + " 2>/dev/null").c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
            out.append(buf, n);
        ::pclose(p);
    }
    return out.erase(out.find_last_not_of('\n') + 1);
}

bool until(const std::function<bool()>& done, milliseconds limit) {
    for (const auto end = steady_clock::now() + limit; steady_clock::now() < end;
         std::this_thread::sleep_for(100ms))
        if (done()) return true;
    return done();
}

void connectOnce(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = testing_support::loopback(port);
    ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    ::close(fd);
}

} // namespace

TEST(DesktopNotifications, HitsAreToldOnceThenSummarisedAndTheTrayMenuActsOnTheFrame) {
    const std::string missing =
        sh("", "for t in Xvfb dbus-run-session dunst dunstctl trayer xdotool;"
               " do command -v $t >/dev/null || echo -n \"$t \"; done");
    if (!missing.empty())
        GTEST_SKIP() << "no desktop can be made without " << missing << "(scripts/install-deps)";
    ScratchDir dir;
    ProgramSetup xvfb;
    xvfb.binary = sh("", "command -v Xvfb");
    Program x({"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, {}, xvfb);
    if (!x.waitFor([](const std::string& o) { return o.find('\n') != std::string::npos; }, 10000))
        GTEST_SKIP() << "no display can be made: Xvfb did not start";
    const std::string display = ":" + x.output().substr(0, x.output().find('\n'));

    const int port = testing_support::freePort(SOCK_STREAM);
    ScratchDir::write("Varlo.tcp", std::to_string(port) + ", Trap\r\n");
    // Every notice stays on screen and none is folded into an earlier equal one.
    ScratchDir::write("dunstrc", "[global]\ntimeout = 0\nnotification_limit = 0\n"
                                 "stack_duplicates = false\n");
    // The daemon and the tray are up before the program looks for them.
    const std::string session = R"(echo "$DBUS_SESSION_BUS_ADDRESS" >bus; dunst -config dunstrc &
        trayer & for i in $(seq 100); do xdotool search --classname trayer && dbus-send \
        --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
        string:org.freedesktop.Notifications | grep -q true && break; sleep 0.1; done >/dev/null 2>&1
        exec "$@")";
    ProgramSetup gui;
    gui.setEnv = {{"DISPLAY", display}, {"QT_QPA_PLATFORM", "xcb"}};
    gui.unsetEnv = {"WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"};
    // A group of its own: whatever the session started ends with the test.
    Program program(
        {"--open", "WS_TcpB"}, {}, {"dbus-run-session", "--", "sh", "-c", session, "sh"},
        [] { ::setpgid(0, 0); }, gui);
    const std::shared_ptr<void> endSession(nullptr,
                                           [&](void*) { ::kill(-program.pid(), SIGKILL); });
    const std::string listener = "ss -Hltn 'sport = :" + std::to_string(port) + "'";
    ASSERT_TRUE(until([&] { return !sh("", listener).empty(); }, 30s)) << "the trap never listened";
    const std::string env =
        "export DISPLAY=" + display + " DBUS_SESSION_BUS_ADDRESS=\"$(cat bus)\";";

    // The tray holds the program's icon; its menu hides the frame and shows it again.
    const std::string findFrame = "xdotool search --onlyvisible --name '^WS by QN$'";
    const auto frameShown = [&] { return !sh(env, findFrame).empty(); };
    const std::string findIcon = "xdotool search --onlyvisible --class wstoolbox | grep -vx \"$(" +
                                 findFrame + ")\" | head -1";
    ASSERT_TRUE(until([&] { return frameShown() && !sh(env, findIcon).empty(); }, 20s))
        << "no tray icon";
    const auto choose = [&](const std::string& keys) {
        sh(env, "xdotool mousemove --window $(" + findIcon + ") 8 8 click 3 sleep 0.5 key " + keys);
    };
    choose("Down Return");
    EXPECT_TRUE(until([&] { return !frameShown(); }, 10s)) << "Hide window";
    choose("Down Down Return");
    EXPECT_TRUE(until(frameShown, 10s)) << "Unhide window";

    // 50 connections in 2.5 s: the first told at once, the rest in a summary.
    const auto start = steady_clock::now();
    for (int i = 0; i < 50; ++i) {
        connectOnce(port);
        std::this_thread::sleep_until(start + i * 50ms);
    }
    const std::string count = "echo $(($(dunstctl count displayed) + $(dunstctl count history)))";
    const auto shown = [&] { return std::atoi(sh(env, count).c_str()); };
    EXPECT_TRUE(until([&] { return shown() >= 1; }, 5s)) << "the first hit is told at once";
    // A click on a notice brings its window back, the frame hidden or not.
    choose("Down Return");
    EXPECT_TRUE(until([&] { return !frameShown(); }, 10s));
    sh(env, "dunstctl action 0");
    EXPECT_TRUE(until(frameShown, 10s)) << "a click on the notice shows the blocker";

    std::this_thread::sleep_until(start + 15s);
    const int before = shown();
    connectOnce(port);
    EXPECT_TRUE(until([&] { return shown() > before; }, 5s)) << "the later hit is told at once";
    sh(env, "dunstctl close-all");
    const std::string history = sh(env, "dunstctl history");
    const std::regex summary(R"re("summary" : \{\s*"type" : "s",\s*"data" : "([^"]*)")re");
    const std::regex more(R"(TCP blocker: (\d+) more hits? on 1 port from 1 peer)");
    const std::string single =
        "TCP blocker: port " + std::to_string(port) + " (Trap) from 127.0.0.1";
    int singles = 0, summaries = 0, told = 0;
    for (auto it = std::sregex_iterator(history.begin(), history.end(), summary);
         it != std::sregex_iterator(); ++it) {
        const std::string text = (*it)[1];
        std::smatch m;
        const bool summed = std::regex_match(text, m, more);
        EXPECT_TRUE(summed || text == single) << text;
        singles += text == single;
        summaries += summed;
        told += summed ? std::stoi(m[1]) : text == single;
    }
    EXPECT_EQ(singles, 2) << "the first hit and the one after a quiet spell\n" << history;
    EXPECT_TRUE(summaries == 1 || summaries == 2) << summaries;
    EXPECT_EQ(told, 51) << "every hit is told, once";

    choose("Down Down Down Return");
    EXPECT_EQ(program.wait(20000), 0) << "Close ends the program";
}
