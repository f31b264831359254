#include "app/mainws.h"
#include "net/shellstate.h"
#include "platform/scratchdir.h"
#include "support/loopbackports.h"
#include "support/testwindows.h"
#include "tools/blockers/ws_tcpb.h"
#include "tools/blockers/ws_udpb.h"
#include "tools/registertools.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace testing_support;

namespace {

// The frame and three blockers: the Sound item and every "sound" box are one
// switch, whichever of them the person changes.
struct SoundSwitch : ::testing::Test {
    ScratchDir dir;
    CapturedConsole console;
    ui::ProcedureRegistry registry;
    std::unique_ptr<ui::Desktop> desktop;
    std::shared_ptr<ui::ToolWindow> frame;
    std::vector<std::shared_ptr<ui::ToolWindow>> blockers;

    SoundSwitch() {
        shell::Sound = 0;
        tools::registerTools(registry);
        registry.add("MainWS", [] { return std::make_unique<app::MainWS>(); });
        ScratchDir::write("Varlo.tcp", std::to_string(freePort(SOCK_STREAM)) + ", Trap\r\n");
        ScratchDir::write("Varlo.udp", std::to_string(freePort(SOCK_DGRAM)) + ", Trap\r\n");
        desktop = std::make_unique<ui::Desktop>(console.frontEnd, registry);
        frame = desktop->start("MainWS");
        desktop->setFrame(frame);
        for (const char* procedure : {"WS_TcpB", "WS_TcpB", "WS_UdpB"})
            blockers.push_back(desktop->start(procedure));
        for (auto& b : blockers)
            b->invoke([] {}).get(); // opened
        frame->invoke([] {}).get();
    }
    ~SoundSwitch() override {
        desktop->closeAll();
        desktop->waitAllClosed(10000);
        desktop.reset();
        shell::Sound = 0;
    }

    // Every place that shows the switch, frame first.
    std::vector<bool> shown() {
        std::vector<bool> marks{frame->model().menuChecked(app::MainWS::SoundItem)};
        for (auto& b : blockers)
            marks.push_back(b->model().checked(tools::WS_TcpB::SoundSwitch));
        return marks;
    }
    bool allShow(bool on) {
        return waitUntil(
            [&] { return shown() == std::vector<bool>(4, on) && shell::soundOn() == on; });
    }
    void chooseSound() {
        auto f = frame;
        const int id = frame->definition().menuItemByPath("WS/Sound")->id;
        frame->invoke([f, id] { f->applyMenu(id); }).get();
    }
    void pressBox(std::size_t blocker) {
        auto b = blockers[blocker];
        b->invoke([b] { b->applyPress(tools::WS_TcpB::SoundSwitch); }).get();
    }
};

TEST_F(SoundSwitch, TheMenuItemAndEveryBoxShowOneStateAndChangeItTogether) {
    ASSERT_TRUE(allShow(false));
    chooseSound();
    EXPECT_TRUE(allShow(true));
    pressBox(1); // the second TCP blocker's box
    EXPECT_TRUE(allShow(false));
    pressBox(2); // the UDP blocker's
    EXPECT_TRUE(allShow(true));
    chooseSound();
    EXPECT_TRUE(allShow(false));
    // Headless, a box changed from elsewhere is printed; the one pressed is not.
    // The UDP box: off at open, on from the menu, off from the TCP box, on by its
    // own press, off from the menu. The second TCP box: off at open, on from the
    // menu, off by its own press, on from the UDP box, off from the menu.
    const auto lines = console.lines();
    const auto count = [&](const char* line) {
        return std::count(lines.begin(), lines.end(), line);
    };
    EXPECT_EQ(count("WS_UdpB#1 check 6 1"), 1);
    EXPECT_EQ(count("WS_UdpB#1 check 6 0"), 3);
    EXPECT_EQ(count("WS_TcpB#2 check 6 1"), 2);
    EXPECT_EQ(count("WS_TcpB#2 check 6 0"), 2);
}

TEST_F(SoundSwitch, ABlockerOpenedLaterShowsTheStateOfTheMomentAndAClosedOneIsLeftAlone) {
    chooseSound();
    ASSERT_TRUE(allShow(true));
    blockers[0]->postClose();
    ASSERT_TRUE(waitUntil([&] { return blockers[0]->isClosed(); }));
    pressBox(1);
    EXPECT_TRUE(waitUntil([&] { return !frame->model().menuChecked(app::MainWS::SoundItem); }));
    auto later = desktop->start("WS_UdpB");
    later->invoke([] {}).get();
    EXPECT_FALSE(later->model().checked(tools::WS_UdpB::SoundSwitch));
}

} // namespace
