#include "platform/scratchdir.h"
#include "support/testwindows.h"
#include "tools/plain/unos_porta.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace testing_support;
using tools::Unos_porta;

namespace {

// Stands in for the tools the launcher starts; only its arguments matter here.
class StubTool : public ui::ToolWindow {
public:
    explicit StubTool(const std::string& name) : ToolWindow(name, ui::WindowDefinition{}) {}
    bool usesPlacement() const override { return false; }
};

struct Launcher : ::testing::Test {
    ScratchDir dir;
    CapturedConsole console;
    ui::ProcedureRegistry registry;
    std::unique_ptr<ui::Desktop> desktop;
    std::shared_ptr<ui::ToolWindow> launcher;

    Launcher() {
        registry.add("Unos_porta", [] { return std::make_unique<Unos_porta>(); });
        for (const char* name : {"WS_Tcp", "WS_Udp", "WS_http_s", "WS_CLIENT", "ws_HClient"})
            registry.add(name, [name] { return std::make_unique<StubTool>(name); });
        desktop = std::make_unique<ui::Desktop>(console.frontEnd, registry);
        launcher = desktop->start("Unos_porta");
        EXPECT_TRUE(console.waitForLine("Unos_porta#1 open"));
    }
    ~Launcher() override { desktop->closeAll(); }

    void type(const std::string& value) {
        launcher->invoke([&] { launcher->applyInput(Unos_porta::PortEntry, value); }).get();
    }
    void press(int control) {
        launcher->invoke([&] { launcher->applyPress(control); }).get();
    }
    std::size_t beeps() {
        const auto lines = console.lines();
        return static_cast<std::size_t>(
            std::count(lines.begin(), lines.end(), "Unos_porta#1 beep"));
    }
    // The arguments of every window started besides the launcher, in order.
    std::vector<std::pair<std::string, std::vector<std::string>>> started() {
        std::vector<std::pair<std::string, std::vector<std::string>>> out;
        for (const auto& w : desktop->windows())
            if (w != launcher) out.emplace_back(w->procedure(), w->arguments());
        return out;
    }
};

using Started = std::vector<std::pair<std::string, std::vector<std::string>>>;

} // namespace

TEST_F(Launcher, ServerButtonsStartTheirServerWithTheBlankPaddedPort) {
    EXPECT_EQ(launcher->model().value(Unos_porta::PortEntry), "8088");
    press(Unos_porta::TcpButton);
    type("9001");
    press(Unos_porta::UdpButton);
    type("9002");
    press(Unos_porta::HttpButton);
    ASSERT_TRUE(waitUntil([&] { return started().size() == 3; }));
    const Started expected = {{"WS_Tcp", {"8088                "}},
                              {"WS_Udp", {"9001                "}},
                              {"WS_http_s", {"9002                "}}};
    EXPECT_EQ(started(), expected);
    EXPECT_EQ(beeps(), 0u);
}

TEST_F(Launcher, PortZeroOnAServerButtonBeepsFocusesTheEntryAndStartsNothing) {
    std::size_t expectedBeeps = 0;
    for (int button : {Unos_porta::TcpButton, Unos_porta::UdpButton, Unos_porta::HttpButton}) {
        type("0");
        launcher->model().setFocus(Unos_porta::TcpButton);
        press(button);
        EXPECT_EQ(beeps(), ++expectedBeeps) << button;
        EXPECT_EQ(launcher->model().focus(), Unos_porta::PortEntry);
    }
    EXPECT_TRUE(started().empty());
}

TEST_F(Launcher, APortBeyond65535IsRefusedAndTheEntryShowsTheKeptPort) {
    type("7000");
    press(Unos_porta::PortEntry);
    for (int control :
         {int(Unos_porta::PortEntry), int(Unos_porta::TcpButton), int(Unos_porta::ClientButton)}) {
        type("70000");
        launcher->model().setFocus(Unos_porta::UdpButton);
        const std::size_t before = beeps();
        press(control);
        EXPECT_EQ(beeps(), before + 1) << control;
        EXPECT_EQ(launcher->model().focus(), Unos_porta::PortEntry);
        EXPECT_EQ(launcher->model().value(Unos_porta::PortEntry), "7000");
    }
    EXPECT_TRUE(started().empty());
    EXPECT_FALSE(console.has("Unos_porta#1 menu Tcp|Udp|-|Http"));
}

TEST_F(Launcher, ClientPopupStartsTheChosenClientAndBeepsAfterItCloses) {
    struct Case {
        const char* port;
        int choice;
        Started expected;
    };
    const Case cases[] = {
        {"8088", 1, {{"WS_CLIENT", {"8088", "TCP"}}}},
        {"0", 1, {{"WS_CLIENT", {"0", "TCP"}}}}, // no test for 0 here
        {"8089", 2, {{"WS_CLIENT", {"8089", "UDP"}}}},
        {"8090", 3, {{"ws_HClient", {"", "8090", ""}}}},
        {"8091", 0, {}}, // dismissed
    };
    for (const auto& c : cases) {
        for (const auto& w : desktop->windows())
            if (w != launcher) w->postClose();
        ASSERT_TRUE(waitUntil([&] { return started().empty(); }));
        const std::size_t before = beeps();
        type(c.port);
        console.frontEnd.queuePopupChoice(c.choice);
        press(Unos_porta::ClientButton);
        EXPECT_TRUE(waitUntil([&] { return started().size() == c.expected.size(); }));
        EXPECT_EQ(started(), c.expected) << c.port << " " << c.choice;
        EXPECT_EQ(beeps(), before + 1);
        const auto lines = console.lines();
        const auto menu =
            std::find(lines.rbegin(), lines.rend(), "Unos_porta#1 menu Tcp|Udp|-|Http");
        const auto beep = std::find(lines.rbegin(), lines.rend(), "Unos_porta#1 beep");
        ASSERT_NE(menu, lines.rend());
        EXPECT_LT(beep, menu); // the beep comes after the menu (reverse order)
    }
}
