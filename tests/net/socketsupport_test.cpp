#include "net/eventlog.h"
#include "net/localhost.h"
#include "net/shellstate.h"
#include "net/socketeventhook.h"
#include "net/soundcue.h"
#include "net/winsockerror.h"
#include "platform/winsock.h"
#include "support/testwindows.h"

#include <gtest/gtest.h>

#include <regex>

using namespace testing_support;

namespace {

ui::WindowDefinition logDefinition() {
    ui::WindowDefinition d;
    ui::ControlDef list;
    list.number = 1;
    list.kind = ui::ControlKind::List;
    d.controls = {list};
    return d;
}

class LogWindow : public ui::ToolWindow {
public:
    LogWindow() : ToolWindow("LogTool", logDefinition()) {}
    bool usesPlacement() const override { return false; }
    std::vector<int> userEvents; // touched on the window's thread only

protected:
    void onUserEvent(int event, win::WPARAM, win::LPARAM) override { userEvents.push_back(event); }
};

struct SupportFixture : ::testing::Test {
    CapturedConsole console;
    ui::ProcedureRegistry registry;
    ui::Desktop desktop{console.frontEnd, registry};
    std::shared_ptr<ui::ToolWindow> window = desktop.start(std::make_unique<LogWindow>());

    void SetUp() override {
        ASSERT_TRUE(waitUntil([&] { return window->isOpen(); }));
        shell::Sound = 0;
    }
    void TearDown() override { shell::Sound = 0; }

    void onWindow(const std::function<void()>& fn) { window->invoke(fn).get(); }
};

} // namespace

TEST(WinsockErrorName, NamesTheListedCodesAndNothingElse) {
    EXPECT_EQ(net::WinsockErrorName(10061), "WSAECONNREFUSED");
    EXPECT_EQ(net::WinsockErrorName(10048), "WSAEADDRINUSE");
    EXPECT_EQ(net::WinsockErrorName(10093), "WSANOTINITIALISED");
    EXPECT_EQ(net::WinsockErrorName(11004), "WSANO_DATA");
    EXPECT_EQ(net::WinsockErrorName(10004), "WSAEINTR");
    for (int unknown : {0, 10072, 10090, 10094, 11005, -1, 10000})
        EXPECT_EQ(net::WinsockErrorName(unknown), "Unknown Error Code") << unknown;
    // The code is held as a 16-bit signed number, as the report keeps it.
    EXPECT_EQ(net::WinsockErrorName(65536 + 10061), "WSAECONNREFUSED");
}

namespace {
struct HookCase {
    net::SocketEventHook::Variant variant;
    win::UINT msg;
    win::LPARAM lParam;
    int posted;    // 0: nothing
    bool answered; // not passed on
};
} // namespace

TEST_F(SupportFixture, HookVariantsTurnMessagesIntoTheirEvents) {
    using V = net::SocketEventHook::Variant;
    const win::UINT notify = net::SocketNotifyMessage;
    const HookCase cases[] = {
        {V::Server, notify, win::FD_ACCEPT, 1126, false},
        {V::Server, notify, win::FD_READ, 1127, false},
        {V::Server, notify, win::FD_CLOSE, 1128, false},
        {V::Server, notify, win::FD_WRITE, 0, false},
        {V::Server, notify, win::WSAMAKESELECTREPLY(win::FD_READ, 10054), 0, false},
        {V::Server, 1134, 0, 1027, false},
        {V::Server, 1135, 0, 1028, false},
        {V::Server, win::WM_QUERYENDSESSION, 0, 0, true},
        {V::Server, win::WM_ENDSESSION, 0, 1024, false},
        {V::Client, notify, win::FD_CONNECT, 1024, false},
        {V::Client, notify, win::FD_WRITE, 1025, false},
        {V::Client, notify, win::FD_READ, 1026, false},
        {V::Client, notify, win::FD_CLOSE, 1027, false},
        {V::Client, notify, win::WSAMAKESELECTREPLY(win::FD_CONNECT, 10061), 0, false},
        {V::Client, win::WM_ENDSESSION, 0, 0, false},
        {V::Lookup, 1134, 0, 1027, false},
        {V::Lookup, 1135, 0, 1028, false},
        {V::Lookup, notify, win::FD_READ, 0, false},
        {V::Frame, win::WM_QUERYENDSESSION, 0, 0, true},
        {V::Frame, win::WM_ENDSESSION, 1, 1024, false},
        {V::Frame, net::NotifyIconMessage, 0x0202, 1089, true},
        {V::Frame, net::NotifyIconMessage, 0x0205, 1090, true},
        {V::Frame, net::NotifyIconMessage, 0x0203, 1091, true},
        {V::Frame, net::NotifyIconMessage, 0x0206, 1092, true},
        {V::Frame, net::NotifyIconMessage, 0x0200, 0, true},
    };
    auto* log = static_cast<LogWindow*>(window.get());
    for (const auto& c : cases) {
        net::SocketEventHook hook(c.variant);
        win::LRESULT result = -1;
        bool answered = false;
        onWindow([&] {
            log->userEvents.clear();
            answered = hook.handle(*window, {c.msg, 100, c.lParam, 0}, result);
        });
        std::vector<int> posted;
        onWindow([&] { posted = log->userEvents; }); // runs after anything the hook posted
        EXPECT_EQ(answered, c.answered) << c.msg << " " << c.lParam;
        EXPECT_EQ(posted, c.posted ? std::vector<int>{c.posted} : std::vector<int>{})
            << c.msg << " " << c.lParam;
        if (c.msg == win::WM_QUERYENDSESSION) {
            EXPECT_EQ(result, 1);
        }
        if (c.msg == net::NotifyIconMessage && c.posted) {
            EXPECT_EQ(hook.iconId(), 100u);
        }
    }
}

TEST_F(SupportFixture, EventLogLimitsDifferByTool) {
    struct Case {
        net::EventLog::Limit limit;
        int adds;
        std::size_t left;
    } cases[] = {
        {net::EventLog::Limit::EmptyAt250, 249, 249}, {net::EventLog::Limit::EmptyAt250, 250, 0},
        {net::EventLog::Limit::EmptyAt250, 251, 1},   {net::EventLog::Limit::EmptyAt300, 299, 299},
        {net::EventLog::Limit::EmptyAt300, 300, 0},   {net::EventLog::Limit::EmptyBefore250, 250, 250},
        {net::EventLog::Limit::EmptyBefore250, 251, 1}, {net::EventLog::Limit::None, 600, 600},
    };
    for (const auto& c : cases) {
        onWindow([&] {
            net::EventLog log(window->model(), 1, 80, c.limit);
            log.clear();
            for (int i = 1; i <= c.adds; ++i) log.add("line " + std::to_string(i));
            EXPECT_EQ(log.size(), c.left) << static_cast<int>(c.limit) << " " << c.adds;
            if (c.left == 1) {
                EXPECT_EQ(window->model().rows(1)[0][1], "line " + std::to_string(c.adds));
            }
        });
    }
}

TEST_F(SupportFixture, EventLogLinesAreTimeStampedTrimmedAndCut) {
    onWindow([&] {
        net::EventLog log(window->model(), 1, 10, net::EventLog::Limit::EmptyAt250);
        log.add("short   ");
        log.add("0123456789ABCDEF");
        log.add("01234567  89");
        for (int i = 0; i < 260; ++i) log.addDirect("direct"); // no limit on direct lines
        EXPECT_EQ(log.size(), 263u);
    });
    auto rows = window->model().rows(1);
    EXPECT_EQ(rows[0][1], "short");
    EXPECT_EQ(rows[1][1], "0123456789");
    EXPECT_EQ(rows[2][1], "01234567"); // cut inside blanks, then trimmed
    EXPECT_TRUE(std::regex_match(rows[0][0], std::regex(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)")))
        << rows[0][0];
    EXPECT_EQ(net::EventLog::timeStamp(0).size(), 19u);
}

TEST_F(SupportFixture, ReportWinsockErrorVariants) {
    shell::Sound = 1;
    onWindow([&] {
        net::EventLog log(window->model(), 1, 80, net::EventLog::Limit::EmptyAt250);
        win::WSASetLastError(10093);
        EXPECT_EQ(net::ReportWinsockError(*window, net::ReportVariant::Box, &log), 10093);
        win::WSASetLastError(10061);
        net::ReportWinsockError(*window, net::ReportVariant::LogAndSound, &log);
        win::WSASetLastError(10054);
        net::ReportWinsockError(*window, net::ReportVariant::Log, &log);
        win::WSASetLastError(10048);
        net::ReportWinsockError(*window, net::ReportVariant::MarkedLogAndSound, &log);
    });
    auto lines = console.lines();
    auto at = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) - lines.begin();
    };
    EXPECT_TRUE(console.has("LogTool#1 box WinSock Error\texclamation\t10093: WSANOTINITIALISED"));
    EXPECT_TRUE(console.has("LogTool#1 answer OK"));
    auto rows = window->model().rows(1);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][1], "WSAECONNREFUSED");
    EXPECT_EQ(rows[1][1], "WSAECONNRESET");
    EXPECT_EQ(rows[2][0], "ERROR !");
    EXPECT_EQ(rows[2][1], "wsaeaddrinuse");
    // Two cues: the log-and-sound and the marked variants; the plain log is silent.
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "LogTool#1 cue Error.wav"), 2);
    EXPECT_LT(at("LogTool#1 row 1 " + rows[0][0] + "\tWSAECONNREFUSED"),
              at("LogTool#1 cue Error.wav"));
}

TEST_F(SupportFixture, CuesPlayOnlyWithTheSoundSwitchOn) {
    onWindow([&] { net::PlayCue(*window, "Alarm.wav"); });
    EXPECT_EQ(shell::soundFile(), "Alarm.wav");
    shell::Sound = 1;
    onWindow([&] { net::PlayCue(*window, "A-very-long-sound-file-name.wav"); });
    EXPECT_EQ(shell::soundFile(), "A-very-long-sound-f"); // 19 characters kept
    auto lines = console.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "LogTool#1 cue Alarm.wav"), 0);
    EXPECT_TRUE(console.has("LogTool#1 cue A-very-long-sound-f"));
}

TEST_F(SupportFixture, StartupBannerWritesItsLinesInOrder) {
    win::WSADATA data{};
    ASSERT_EQ(win::WSAStartup(0x0101, &data), 0);
    std::string caption;
    net::LocalHost host;
    onWindow([&] {
        net::EventLog log(window->model(), 1, 80, net::EventLog::Limit::EmptyAt250);
        host = net::StartupBanner(*window, log, net::ReportVariant::LogAndSound,
                                  [&](const net::LocalHost& h) { caption = "TCP " + h.name; }, 8088);
    });
    win::WSACleanup();
    auto rows = window->model().rows(1);
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[0][1], "User name: " + net::userName());
    EXPECT_EQ(rows[1][1].rfind("Computer name: ", 0), 0u);
    EXPECT_EQ(rows[2][1], "Initializing sockets ..");
    EXPECT_EQ(rows[3][1], "Host name: " + host.name);
    EXPECT_EQ(rows[4][1], "Host IP: " + host.address);
    EXPECT_EQ(rows[5][1], "Port: 8088");
    EXPECT_EQ(rows[6][1], "");
    EXPECT_FALSE(host.name.empty());
    EXPECT_EQ(caption, "TCP " + host.name);
}
