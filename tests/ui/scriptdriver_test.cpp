#include "support/testwindows.h"
#include "ui/console/scriptdriver.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace testing_support;

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
    add(5, ui::ControlKind::List, "");
    return d;
}

// Echoes what it is given into its list, and asks a box when "Send" is pressed.
class FormWindow : public ui::ToolWindow {
public:
    FormWindow() : ToolWindow("Form", formDefinition()) {}
    bool usesPlacement() const override { return false; }

protected:
    void onControl(int control) override {
        if (control == 2) {
            const int answer = messageBox("Send|" + model().value(1), "Q", ui::BoxIcon::Question,
                                          ui::BoxButtons::YesNo);
            model().appendRow(5, {"answer", std::to_string(answer)});
        }
        if (control == 4) model().setCaption(model().checked(4) ? "Form on" : "Form off");
    }
};

struct DriverFixture : ::testing::Test {
    CapturedConsole console;
    ui::ProcedureRegistry registry;
    ui::Desktop desktop{console.frontEnd, registry};
    ui::ScriptDriver driver{desktop, console.frontEnd, console.output};

    DriverFixture() {
        registry.add("Form", [] { return std::make_unique<FormWindow>(); });
    }
};

} // namespace

TEST(ScriptWords, QuotesKeepBlanksInsideOneWord) {
    EXPECT_EQ(ui::ScriptDriver::split("open WS_Tcp \"a b\"  c"),
              (std::vector<std::string>{"open", "WS_Tcp", "a b", "c"}));
    EXPECT_EQ(ui::ScriptDriver::split("set X \"\" v"), (std::vector<std::string>{"set", "X", "", "v"}));
}

TEST(ConsoleEscapes, OneChangeIsAlwaysOneLine) {
    EXPECT_EQ(ui::ConsoleOutput::escape("a\r\nb\tc\\d\x01\x7f"), "a\\r\\nb\\tc\\\\d\\x01\\x7F");
    EXPECT_EQ(ui::ConsoleOutput::escape("Poku\x9a" "aj"), "Pokušaj"); // Windows-1250 to UTF-8
}

TEST_F(DriverFixture, CommandsRunThroughTheWindowAndPrintWhatHappens) {
    const char* script[] = {
        "# a comment",
        "open Form",
        "set Form 1 8088 and more",
        "answer 2",
        "press Form \"Send\"",
        "press Form 3",
        "set Form 3 x",
        "press Form sound",
        "dump Form#1",
    };
    for (const char* line : script) EXPECT_TRUE(driver.execute(line)) << line;
    EXPECT_TRUE(console.has("Form#1 box Q\tquestion\tSend|8088 and more"));
    EXPECT_TRUE(console.has("Form#1 answer No"));
    EXPECT_TRUE(console.has("Form#1 refused press 3"));
    EXPECT_TRUE(console.has("Form#1 refused set 3"));
    EXPECT_TRUE(console.has("Form#1 caption Form on"));
    EXPECT_TRUE(console.has("Form#1 dump caption Form on"));
    EXPECT_TRUE(console.has("Form#1 dump control 1 entry \"Port:\" enabled 8088 and more"));
    EXPECT_TRUE(console.has("Form#1 dump control 3 button \"Off\" disabled"));
    EXPECT_TRUE(console.has("Form#1 dump control 4 checkbox \"sound\" enabled 1"));
    EXPECT_TRUE(console.has("Form#1 dump row 5 answer\t7"));
    // What the person typed is not printed as a change made by the tool.
    for (const auto& l : console.lines()) EXPECT_EQ(l.find("field 1"), std::string::npos) << l;
    EXPECT_FALSE(driver.execute("bogus command"));
}

TEST_F(DriverFixture, WaitforMatchesEachLineOnceAndReportsATimeout) {
    ASSERT_TRUE(driver.execute("open Form"));
    ASSERT_TRUE(driver.execute("press Form 2"));
    ASSERT_TRUE(driver.execute("press Form 2"));
    ASSERT_TRUE(driver.execute("waitfor Form row 5 answer"));
    ASSERT_TRUE(driver.execute("waitfor Form row 5 answer"));
    EXPECT_FALSE(console.has("Form#1 timeout waitfor row 5 answer"));
    ASSERT_TRUE(driver.execute("waitfor Form \"row 5 answer\" 0.2")); // both rows were taken
    EXPECT_TRUE(console.has("Form#1 timeout waitfor row 5 answer"));
}

TEST_F(DriverFixture, CommandsWaitForAWindowThatIsStillOpening) {
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        desktop.start("Form");
    });
    EXPECT_TRUE(driver.execute("press Form#1 4"));
    later.join();
    EXPECT_TRUE(console.has("Form#1 caption Form on"));
    EXPECT_TRUE(driver.execute("close Form"));
    EXPECT_TRUE(console.has("Form#1 closed"));
}

TEST_F(DriverFixture, AScriptStreamRunsToItsEnd) {
    auto in = std::make_unique<std::istringstream>("open Form\r\nopen Form\r\nwaitfor Form#2 open\n");
    driver.start(std::move(in));
    driver.join();
    EXPECT_TRUE(console.has("Form#2 open"));
    EXPECT_EQ(desktop.windows().size(), 2u);
}
