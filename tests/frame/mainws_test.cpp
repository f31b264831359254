#include "app/mainws.h"
#include "net/shellstate.h"
#include "net/socketeventhook.h"
#include "platform/winsock.h"
#include "platform/scratchdir.h"
#include "settings/placementstore.h"
#include "support/testwindows.h"
#include "ui/windowplacement.h"

#include <gtest/gtest.h>

#include <atomic>
#include <regex>

using namespace testing_support;

namespace {

// A stand-in tool that closes when the session ends, as the socket tools do.
class StubTool : public ui::ToolWindow {
public:
    explicit StubTool(const std::string& name) : ToolWindow(name, ui::WindowDefinition{}) {}

protected:
    void onOpen() override {
        installHook(std::make_shared<net::SocketEventHook>(net::SocketEventHook::Variant::Server));
    }
    void onUserEvent(int event, win::WPARAM, win::LPARAM) override {
        if (event == 1024) postClose();
    }
};

// Holds a socket and records how closing it went when the window closes.
std::atomic<int> g_closeResult{-2};

class SocketTool : public ui::ToolWindow {
public:
    SocketTool() : ToolWindow("WS_TcpB", ui::WindowDefinition{}) {}

protected:
    void onOpen() override { m_socket = win::socket(AF_INET, SOCK_STREAM, 0); }
    void onClose() override {
        g_closeResult = win::closesocket(m_socket) == 0 ? 0 : win::WSAGetLastError();
    }

private:
    win::SOCKET m_socket = win::INVALID_SOCKET;
};

struct FrameFixture : ::testing::Test {
    ScratchDir dir;
    CapturedConsole console;
    ui::ProcedureRegistry registry;
    std::unique_ptr<PlacementStore> store;
    std::unique_ptr<ui::Desktop> desktop;
    std::shared_ptr<ui::ToolWindow> frame;

    FrameFixture() {
        registry.add("MainWS", [] { return std::make_unique<app::MainWS>(); });
        registry.add("WS_TcpB", [] { return std::make_unique<SocketTool>(); });
        for (const char* name : {"Ping_ip", "Traceroute", "WS_CLIENT", "DNSx", "Unos_porta"})
            registry.add(name, [name] { return std::make_unique<StubTool>(name); });
    }

    void startFrame() {
        shell::Sound = 0;
        shell::SocketsStarted = 0;
        store = std::make_unique<PlacementStore>(".\\VarLO.ini");
        ui::setPlacementStore(store.get());
        desktop = std::make_unique<ui::Desktop>(console.frontEnd, registry);
        frame = desktop->start("MainWS");
        desktop->setFrame(frame);
        ASSERT_TRUE(console.waitForLine("MainWS#1 open"));
        // "open" is printed before the frame's open handler runs; wait for it.
        frame->invoke([] {}).get();
    }

    void chooseMenu(const std::string& path) {
        const ui::MenuItemDef* item = frame->definition().menuItemByPath(path);
        ASSERT_NE(item, nullptr) << path;
        const int id = item->id;
        auto f = frame;
        frame->invoke([f, id] { f->applyMenu(id); }).get();
    }

    void exitProgram() {
        chooseMenu("File/Exit");
        ASSERT_TRUE(desktop->waitAllClosed(10000));
        ui::setPlacementStore(nullptr);
        store->close();
    }

    ~FrameFixture() override {
        ui::setPlacementStore(nullptr);
        desktop.reset();
        shell::Sound = 0;
    }
};

} // namespace

TEST_F(FrameFixture, FirstRunInAnEmptyDirectoryWritesTheShellSections) {
    startFrame();
    exitProgram();
    const std::string ini = ScratchDir::read("VARlo.INI");
    EXPECT_NE(ini.find("[VARlo Settings]\r\nSound=0\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("[MainWS]\r\nMaximize=No\r\nXPos=0\r\nYPos=0\r\nHeight=320\r\nWidth=500\r\n"),
              std::string::npos)
        << ini;
    EXPECT_NE(ini.find("[__Dont_Touch_Me__]\r\nSectors=0\r\n"), std::string::npos) << ini;
    EXPECT_EQ(shell::SocketsStarted.load(), 1);
}

TEST_F(FrameFixture, SoundSwitchIsReadShownToggledAndWritten) {
    ScratchDir::write("VARlo.INI", "[VARlo Settings]\r\nSound=1\r\n");
    startFrame();
    EXPECT_TRUE(shell::soundOn());
    EXPECT_TRUE(frame->model().menuChecked(app::MainWS::SoundItem));
    chooseMenu("WS/Sound");
    EXPECT_FALSE(frame->model().menuChecked(app::MainWS::SoundItem));
    exitProgram();
    EXPECT_NE(ScratchDir::read("VARlo.INI").find("Sound=0"), std::string::npos);
}

TEST_F(FrameFixture, BlankSoundValueLeavesTheSwitchOff) {
    ScratchDir::write("VARlo.INI", "[VARlo Settings]\nSound=   \n");
    startFrame();
    EXPECT_FALSE(shell::soundOn());
    EXPECT_FALSE(frame->model().menuChecked(app::MainWS::SoundItem));
    exitProgram();
}

TEST_F(FrameFixture, AboutBeepsThenShowsTheSixLineBox) {
    startFrame();
    chooseMenu("WS/About");
    // The frame's own lines: the windows it opened at its start print theirs meanwhile.
    std::vector<std::string> lines;
    for (const auto& l : console.lines())
        if (l.rfind("MainWS#1 ", 0) == 0) lines.push_back(l);
    auto beep = std::find(lines.begin(), lines.end(), "MainWS#1 beep");
    ASSERT_NE(beep, lines.end());
    ASSERT_NE(beep + 1, lines.end());
    const std::string box = *(beep + 1);
    ASSERT_EQ(box.rfind("MainWS#1 box WS\tasterisk\t", 0), 0u) << box;
    const std::string text = box.substr(std::string("MainWS#1 box WS\tasterisk\t").size());
    EXPECT_EQ(std::count(text.begin(), text.end(), '|'), 5); // six lines
    EXPECT_EQ(text.find("  WS toolbox|"), 0u);
    EXPECT_NE(text.find("|  by|  |"), std::string::npos);
    exitProgram();
}

TEST_F(FrameFixture, StatusBarShowsDateAndTimeAndTheStartWindowsOpen) {
    startFrame();
    ASSERT_TRUE(waitUntil([&] { return !frame->model().statusZone(3).empty(); }, 1000));
    EXPECT_TRUE(std::regex_match(frame->model().statusZone(3), std::regex(R"(\d\d:\d\d:\d\d)")));
    EXPECT_TRUE(std::regex_match(frame->model().statusZone(2),
                                 std::regex(R"([A-Z][a-z]+day, [A-Z][a-z]+ \d{1,2}, \d{4})")))
        << frame->model().statusZone(2);
    EXPECT_EQ(frame->timerPeriod(), 100);
    EXPECT_TRUE(console.waitForLine("DNSx#1 open"));
    EXPECT_TRUE(console.waitForLine("Unos_porta#1 open"));
    exitProgram();
    EXPECT_TRUE(console.has("DNSx#1 closed"));
}

TEST(FrameTexts, DateAndTimeFollowTheStatusBarFormat) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 7;
    t.tm_wday = 1;
    t.tm_hour = 7;
    t.tm_min = 5;
    t.tm_sec = 9;
    EXPECT_EQ(app::MainWS::dateText(t), "Monday, December 7, 2026");
    EXPECT_EQ(app::MainWS::timeText(t), "07:05:09");
    t.tm_wday = 3;
    t.tm_mon = 0;
    EXPECT_EQ(app::MainWS::dateText(t), "Wednesday, January 7, 2026");
}

TEST_F(FrameFixture, MenuItemsStartANewInstanceEachTimeWithTheirArguments) {
    startFrame();
    chooseMenu("WS/Ping");
    chooseMenu("WS/Ping");
    chooseMenu("WS/Traceroute");
    chooseMenu("WS/Client/Udp");
    chooseMenu("WS/Port scan"); // no such tool yet: nothing starts
    ASSERT_TRUE(console.waitForLine("Ping_ip#2 open"));
    ASSERT_TRUE(console.waitForLine("WS_CLIENT#1 open"));
    EXPECT_EQ(desktop->find("Traceroute")->arguments(), std::vector<std::string>{"  "});
    EXPECT_EQ(desktop->find("WS_CLIENT")->arguments(), (std::vector<std::string>{"", "UDP"}));
    EXPECT_EQ(desktop->find("Port_chk"), nullptr);
    exitProgram();
    EXPECT_TRUE(console.has("Ping_ip#1 closed"));
    EXPECT_TRUE(console.has("Ping_ip#2 closed"));
}

TEST_F(FrameFixture, EndOfSessionClosesEveryWindowThroughItsHandlers) {
    ScratchDir::write("VARlo.INI", "[VARlo Settings]\r\nSound=1\r\n");
    startFrame();
    ASSERT_TRUE(console.waitForLine("Unos_porta#1 open"));
    desktop->endSession();
    ASSERT_TRUE(desktop->waitAllClosed(10000));
    store->close();
    EXPECT_TRUE(console.has("MainWS#1 closed"));
    EXPECT_TRUE(console.has("DNSx#1 closed"));
    EXPECT_NE(ScratchDir::read("VARlo.INI").find("Sound=1"), std::string::npos);
}

TEST_F(FrameFixture, ToolsCloseTheirSocketsBeforeTheFrameEndsTheSocketsLayer) {
    startFrame();
    chooseMenu("WS/Port blocker/Tcp ports");
    ASSERT_TRUE(console.waitForLine("WS_TcpB#1 open"));
    exitProgram();
    EXPECT_EQ(g_closeResult.load(), 0); // not WSANOTINITIALISED
}
