#include "support/testwindows.h"
#include "ui/messagehook.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>

using namespace testing_support;

namespace {

ui::WindowDefinition probeDefinition() {
    ui::WindowDefinition d;
    d.caption = "Probe";
    ui::ControlDef button;
    button.number = 1;
    button.kind = ui::ControlKind::Button;
    button.label = "&Go";
    ui::ControlDef box;
    box.number = 2;
    box.kind = ui::ControlKind::CheckBox;
    box.label = "sound";
    ui::ControlDef entry;
    entry.number = 3;
    entry.kind = ui::ControlKind::Entry;
    entry.enabled = false;
    ui::ControlDef r1, r2;
    r1.number = 4;
    r1.kind = ui::ControlKind::Radio;
    r1.value = "1";
    r2.number = 5;
    r2.kind = ui::ControlKind::Radio;
    d.controls = {button, box, entry, r1, r2};
    return d;
}

// Records what reaches it and on which thread.
class ProbeWindow : public ui::ToolWindow {
public:
    ProbeWindow() : ToolWindow("Probe", probeDefinition()) {}

    std::mutex mutex;
    std::vector<std::string> seen;
    std::thread::id handlerThread;
    std::atomic<int> ticks{0};
    std::atomic<bool> closeHandled{false};

    void record(const std::string& what) {
        std::lock_guard lock(mutex);
        seen.push_back(what);
        handlerThread = std::this_thread::get_id();
    }
    std::vector<std::string> events() {
        std::lock_guard lock(mutex);
        return seen;
    }

protected:
    void onOpen() override { record("open"); }
    void onClose() override {
        closeHandled = true;
        record("close");
    }
    void onControl(int control) override { record("control " + std::to_string(control)); }
    void onTimer() override {
        if (++ticks == 3) setTimer(0);
    }
    void onUserEvent(int event, win::WPARAM w, win::LPARAM l) override {
        record("user " + std::to_string(event) + " " + std::to_string(w) + " " + std::to_string(l));
    }
    bool usesPlacement() const override { return false; }
};

struct Fixture : ::testing::Test {
    CapturedConsole console;
    ui::ProcedureRegistry registry;
    ui::Desktop desktop{console.frontEnd, registry};

    std::shared_ptr<ProbeWindow> startProbe() {
        auto w = desktop.start(std::make_unique<ProbeWindow>());
        auto probe = std::static_pointer_cast<ProbeWindow>(w);
        EXPECT_TRUE(waitUntil([&] { return !probe->events().empty(); }));
        return probe;
    }
};

} // namespace

TEST_F(Fixture, HandlersRunOnTheWindowsOwnThreadInPostingOrder) {
    auto probe = startProbe();
    for (int i = 0; i < 50; ++i) probe->postUserEvent(1024 + i, i, -i);
    probe->invoke([] {}).get();
    auto events = probe->events();
    ASSERT_EQ(events.size(), 51u);
    EXPECT_EQ(events[0], "open");
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(events[1 + i], "user " + std::to_string(1024 + i) + " " + std::to_string(i) +
                                     " " + std::to_string(-i));
    EXPECT_NE(probe->handlerThread, std::this_thread::get_id());
}

TEST_F(Fixture, EventsPostedFromManyThreadsAllArrive) {
    auto probe = startProbe();
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t)
        posters.emplace_back([&, t] {
            for (int i = 0; i < 250; ++i) probe->postUserEvent(2000 + t);
        });
    for (auto& p : posters) p.join();
    probe->invoke([] {}).get();
    EXPECT_EQ(probe->events().size(), 1u + 1000u);
}

TEST_F(Fixture, EventsPostedByAHandlerToItsOwnWindowRunAfterThoseAlreadyQueued) {
    auto probe = startProbe();
    // Posted while the loop works through its queue: no wake-up is sent for them,
    // so they must be picked up by the same pass, in order, queue empty or not.
    std::promise<void> release;
    auto gate = release.get_future().share();
    probe->invoke([&, gate] {
        gate.wait();
        probe->postUserEvent(1200);
        probe->postUserEvent(1201);
    });
    probe->postUserEvent(1100);
    release.set_value();
    ASSERT_TRUE(waitUntil([&] { return probe->events().size() == 4; }));
    probe->invoke([&] { probe->postUserEvent(1300); }).get();
    ASSERT_TRUE(waitUntil([&] { return probe->events().size() == 5; }))
        << "a post from a handler into an empty queue was never run";
    EXPECT_EQ(probe->events(), (std::vector<std::string>{"open", "user 1100 0 0", "user 1200 0 0",
                                                         "user 1201 0 0", "user 1300 0 0"}));
}

TEST_F(Fixture, TimerTicksInHundredthsUntilStopped) {
    auto probe = startProbe();
    probe->invoke([&] { probe->setTimer(1); }).get();
    ASSERT_TRUE(waitUntil([&] { return probe->ticks.load() >= 3; }, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(probe->ticks.load(), 3); // setTimer(0) in the third tick stopped it
}

TEST_F(Fixture, PressTogglesBoxesChoosesRadiosAndRefusesDisabledControls) {
    auto probe = startProbe();
    ui::ToolWindow* w = probe.get();
    bool pressedButton = false, pressedDisabled = true, typedDisabled = true;
    probe->invoke([&] {
             pressedButton = w->applyPress(1);
             w->applyPress(2);
             pressedDisabled = w->applyPress(3);
             typedDisabled = w->applyInput(3, "x");
             w->applyPress(5);
         })
        .get();
    EXPECT_TRUE(pressedButton);
    EXPECT_FALSE(pressedDisabled);
    EXPECT_FALSE(typedDisabled);
    EXPECT_TRUE(probe->model().checked(2));
    EXPECT_FALSE(probe->model().checked(4)); // one option of a group at a time
    EXPECT_TRUE(probe->model().checked(5));
    auto events = probe->events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "control 3"), 0);
    EXPECT_EQ(std::count(events.begin(), events.end(), "control 1"), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "control 2"), 1);
}

TEST_F(Fixture, ClosingRunsTheHandlerOnceAndDropsLaterEvents) {
    auto probe = startProbe();
    probe->postClose();
    probe->postClose();
    ASSERT_TRUE(desktop.waitAllClosed(5000));
    EXPECT_TRUE(probe->closeHandled);
    auto before = probe->events();
    EXPECT_EQ(std::count(before.begin(), before.end(), "close"), 1);
    probe->postUserEvent(1500);
    auto late = probe->invoke([] {});
    EXPECT_THROW(late.get(), std::exception); // nobody waits for a window that is gone
    EXPECT_EQ(probe->events().size(), before.size());
    EXPECT_TRUE(console.has("Probe#1 open"));
    EXPECT_TRUE(console.has("Probe#1 closed"));
}

TEST_F(Fixture, InstancesAreNumberedPerProcedureAndFoundByName) {
    auto first = startProbe();
    auto second = startProbe();
    EXPECT_EQ(first->name(), "Probe#1");
    EXPECT_EQ(second->name(), "Probe#2");
    EXPECT_EQ(desktop.find("Probe"), second);
    EXPECT_EQ(desktop.find("Probe#1"), first);
    EXPECT_EQ(desktop.find("Other"), nullptr);
    EXPECT_EQ(desktop.start("Unknown"), nullptr);
}

namespace {
class CountingHook : public ui::MessageHook {
public:
    CountingHook(std::vector<std::string>& log, std::string name, bool answers)
        : m_log(log), m_name(std::move(name)), m_answers(answers) {}
    bool handle(ui::ToolWindow&, const win::Message& m, win::LRESULT& result) override {
        m_log.push_back(m_name + " " + std::to_string(m.msg));
        result = 7;
        return m_answers && m.msg == 99;
    }

private:
    std::vector<std::string>& m_log;
    std::string m_name;
    bool m_answers;
};
} // namespace

TEST_F(Fixture, HooksSeeMessagesNewestFirstAndAnAnswerStopsTheChain) {
    auto probe = startProbe();
    std::vector<std::string> log;
    probe->invoke([&] {
             probe->installHook(std::make_shared<CountingHook>(log, "old", false));
             probe->installHook(std::make_shared<CountingHook>(log, "new", true));
         })
        .get();
    probe->postMessage({98, 0, 0, 0});
    probe->postMessage({99, 0, 0, 0});
    probe->invoke([] {}).get();
    EXPECT_EQ(log, (std::vector<std::string>{"new 98", "old 98", "new 99"}));
}

TEST_F(Fixture, MessageBoxesAndPopupsAreAnsweredAsQueued) {
    auto probe = startProbe();
    console.frontEnd.queueBoxAnswer("2");
    console.frontEnd.queuePopupChoice(3);
    int box = 0, first = 0, menu = 0, dismissed = -1;
    probe->invoke([&] {
             box = probe->messageBox("a|b", "Cap", ui::BoxIcon::Hand, ui::BoxButtons::YesNo);
             first = probe->messageBox("c", "", ui::BoxIcon::None, ui::BoxButtons::OkCancel);
             menu = probe->popupMenu("Tcp|Udp|-|Http");
             dismissed = probe->popupMenu("One|Two");
         })
        .get();
    EXPECT_EQ(box, ui::IDNO);
    EXPECT_EQ(first, ui::IDOK);
    EXPECT_EQ(menu, 3); // the separator is not counted
    EXPECT_EQ(dismissed, 0);
    EXPECT_TRUE(console.has("Probe#1 box Cap\thand\ta|b"));
    EXPECT_TRUE(console.has("Probe#1 answer No"));
    EXPECT_TRUE(console.has("Probe#1 menu Tcp|Udp|-|Http"));
    EXPECT_TRUE(console.has("Probe#1 chosen 3"));
}
