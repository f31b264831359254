#include "platform/scratchdir.h"
#include "support/testwindows.h"
#include "ui/console/scriptdriver.h"
#include "ui/console/scriptinput.h"
#include "ui/listtext.h"

#include <gtest/gtest.h>

#include <sstream>
#include <unistd.h>

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
    add(6, ui::ControlKind::Prompt, "Name:");
    add(7, ui::ControlKind::Entry, "");
    return d;
}

// Echoes what it is given into its list, and asks a box when "Send" is pressed.
class FormWindow : public ui::ToolWindow {
public:
    explicit FormWindow(const char* procedure = "Form") : ToolWindow(procedure, formDefinition()) {}
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
    EXPECT_EQ(ui::ScriptDriver::split("set X \"\" v"),
              (std::vector<std::string>{"set", "X", "", "v"}));
}

TEST(ConsoleEscapes, OneChangeIsAlwaysOneLine) {
    EXPECT_EQ(ui::ConsoleOutput::escape("a\r\nb\tc\\d\x01\x7f"), "a\\r\\nb\\tc\\\\d\\x01\\x7F");
    EXPECT_EQ(ui::ConsoleOutput::escape("Poku\x9a"
                                        "aj"),
              "Pokušaj"); // Windows-1250 to UTF-8
}

TEST_F(DriverFixture, CommandsRunThroughTheWindowAndPrintWhatHappens) {
    const struct {
        const char* line;
        bool done; // a refused command says so and counts as not done
    } script[] = {
        {"# a comment", true},   {"open Form", true},           {"set Form 1 8088 and more", true},
        {"answer 2", true},      {"press Form \"Send\"", true}, {"press Form 3", false},
        {"set Form 3 x", false}, {"press Form sound", true},    {"dump Form#1", true},
    };
    for (const auto& step : script)
        EXPECT_EQ(driver.execute(step.line), step.done) << step.line;
    EXPECT_EQ(driver.failures(), 2);
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
    for (const auto& l : console.lines())
        EXPECT_EQ(l.find("field 1"), std::string::npos) << l;
    EXPECT_FALSE(driver.execute("bogus command"));
}

TEST_F(DriverFixture, WaitforMatchesEachLineOnceAndReportsATimeout) {
    ASSERT_TRUE(driver.execute("open Form"));
    ASSERT_TRUE(driver.execute("press Form 2"));
    ASSERT_TRUE(driver.execute("press Form 2"));
    ASSERT_TRUE(driver.execute("waitfor Form row 5 answer"));
    ASSERT_TRUE(driver.execute("waitfor Form row 5 answer"));
    EXPECT_FALSE(console.has("Form#1 timeout waitfor row 5 answer"));
    EXPECT_FALSE(driver.execute("waitfor Form \"row 5 answer\" 0.2")); // both rows were taken
    EXPECT_TRUE(console.has("Form#1 timeout waitfor row 5 answer"));
    EXPECT_EQ(driver.failures(), 1);
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
    auto in =
        std::make_unique<std::istringstream>("open Form\r\nopen Form\r\nwaitfor Form#2 open\n");
    driver.start(std::move(in));
    driver.join();
    EXPECT_TRUE(console.has("Form#2 open"));
    EXPECT_EQ(desktop.windows().size(), 2u);
}

namespace {

// Lines a careless script may hold: each is refused with an error line, nothing
// throws, and the window is left as it was.
struct RefusedCase {
    const char* line;
    const char* error; // part of the error line
};

// Names the case in test listings by its line rather than by its bytes.
void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.line; }

class RefusedLines : public DriverFixture, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedLines, AreErrorsNeverAborts) {
    ASSERT_TRUE(driver.execute("open Form"));
    ASSERT_TRUE(driver.execute("waitfor Form open"));
    ::testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    const bool done = driver.execute(GetParam().line);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(done);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)); // not waited for
    EXPECT_EQ(driver.failures(), 1);
    EXPECT_NE(errors.find(GetParam().error), std::string::npos) << errors;
    // The window goes on as before.
    EXPECT_TRUE(driver.execute("set Form 1 still here"));
    EXPECT_TRUE(driver.execute("dump Form"));
    EXPECT_TRUE(console.has("Form#1 dump control 1 entry \"Port:\" enabled still here"));
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, RefusedLines,
    ::testing::Values(RefusedCase{"set Form 2147483648 x", "no control 2147483648 in Form#1"},
                      RefusedCase{"set Form 99999999999999999999999 x", "no control 9999"},
                      RefusedCase{"press Form 0", "no control 0 in Form#1"},
                      RefusedCase{"press Form 8", "no control 8 in Form#1"},
                      RefusedCase{"set Form Name: x", "is a prompt; it labels control 7"},
                      RefusedCase{"waitfor Form open -5", "waitfor -5: seconds"},
                      RefusedCase{"waitfor Form open nan", "waitfor nan: seconds"},
                      RefusedCase{"dump Form#0", "no window Form#0"},
                      RefusedCase{"dump #1", "no window #1"},
                      RefusedCase{"close Nothing#2", "no window Nothing#2"},
                      RefusedCase{"press Form Nothing", "no control Nothing in Form#1"},
                      RefusedCase{"save Form 99999999999 out.txt", "no control 99999999999"},
                      RefusedCase{"save Form 1 out.txt", "control 1 of Form#1 is not a list"},
                      RefusedCase{"wait 1e300", "wait 1e300: seconds from 0 to 1000000"},
                      RefusedCase{"wait -1", "wait -1: seconds"},
                      RefusedCase{"wait nan", "wait nan: seconds"},
                      RefusedCase{"wait inf", "wait inf: seconds"},
                      RefusedCase{"waitfor Form open 99999999999", "waitfor 99999999999: seconds"},
                      RefusedCase{"choose 99999999999999999999", "choose 9999"},
                      RefusedCase{"choose -1", "choose -1: an entry number"},
                      RefusedCase{"answer 18446744073709551616", "answer 1844"},
                      RefusedCase{"answer 4", "answer 4: a button number from 1 to 3"},
                      RefusedCase{"answer Maybe", "answer Maybe: a button number"},
                      RefusedCase{"open Nothing", "no procedure Nothing"},
                      RefusedCase{"frobnicate Form", "unknown command: frobnicate"},
                      RefusedCase{"set Form", "too few words: set Form"}));

TEST_F(DriverFixture, NumbersWithinTheirRangesAreTaken) {
    const char* lines[] = {"open Form",      "wait 0.01", "wait 0",     "choose 0",
                           "choose 3",       "answer 3",  "answer Yes", "waitfor Form open 0.5",
                           "press Form 0004"};
    for (const char* line : lines)
        EXPECT_TRUE(driver.execute(line)) << line;
    EXPECT_EQ(driver.failures(), 0);
}

TEST_F(DriverFixture, SaveWritesTheListAsTabSeparatedLinesInUtf8) {
    ScratchDir dir;
    ASSERT_TRUE(driver.execute("open Form"));
    ASSERT_TRUE(driver.execute("answer Yes"));
    ASSERT_TRUE(driver.execute("press Form 2"));
    ASSERT_TRUE(driver.execute("answer No"));
    ASSERT_TRUE(driver.execute("press Form Send"));
    ASSERT_TRUE(driver.execute("save Form 5 \"rows of form.txt\""));
    EXPECT_TRUE(console.has("Form#1 saved 5 2 rows of form.txt"));
    EXPECT_EQ(ScratchDir::read("rows of form.txt"), "answer\t6\nanswer\t7\n");
    // An empty list gives an empty file; a file that cannot be made is an error.
    ASSERT_TRUE(driver.execute("open Form"));
    ASSERT_TRUE(driver.execute("save Form#2 5 empty.txt"));
    EXPECT_EQ(ScratchDir::read("empty.txt"), "");
    EXPECT_FALSE(driver.execute("save Form#1 5 no/such/dir/x.txt"));
}

TEST(ListText, RowsAreLinesOfTabSeparatedColumnsInUtf8) {
    EXPECT_EQ(ui::listText({{"Poku\x9a"
                             "aj",
                             "b"},
                            {"c"},
                            {}}),
              "Poku\xC5\xA1"
              "aj\tb\nc\n\n");
    EXPECT_EQ(ui::listText({}), "");
}

TEST_F(DriverFixture, TheFrameIsSingleInstance) {
    registry.add("Frame", [] { return std::make_unique<FormWindow>("Frame"); });
    auto frame = desktop.start("Frame");
    desktop.setFrame(frame);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(driver.execute("open Frame"));
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("the frame is single-instance"),
              std::string::npos);
    EXPECT_TRUE(driver.execute("open Form"));
    EXPECT_TRUE(waitUntil([&] { return desktop.windows().size() == 2; }));
    EXPECT_EQ(desktop.find("Frame#2"), nullptr);
    EXPECT_FALSE(desktop.mayOpen("Frame#5")); // so a script naming it is refused at once
}

// A script that waits (for more input, a pause, a line, a window) is stopped when
// the program ends, and its thread joins at once.
class StoppedScript : public DriverFixture, public ::testing::WithParamInterface<const char*> {};

TEST_P(StoppedScript, EndsItsWaitAndJoins) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const std::string script = std::string("open Form\n") + GetParam();
    ASSERT_EQ(::write(fds[1], script.data(), script.size()), static_cast<ssize_t>(script.size()));
    driver.start(std::make_unique<ui::ScriptInput>(fds[0], true));
    ASSERT_TRUE(console.waitForLine("Form#1 open"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // into the wait
    const auto before = std::chrono::steady_clock::now();
    driver.stop();
    driver.join();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    ::close(fds[1]); // the writer never closed its end
}

INSTANTIATE_TEST_SUITE_P(Waits, StoppedScript,
                         ::testing::Values("", "wait 100000\n",
                                           "waitfor Form never-printed 100000\n",
                                           "press Nowhere 1\n", "waitfor Nowhere x 100000\n"));

TEST(ScriptInputLines, EndAtLineFeedsWithTooLongLinesSkipped) {
    const std::string longLine(ui::ScriptInput::LongestLine + 10, 'x');
    const std::string bytes = "one\r\n\ntwo\n" + longLine + "\nthree";
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::thread writer([&] {
        [[maybe_unused]] auto n = ::write(fds[1], bytes.data(), bytes.size());
        ::close(fds[1]);
    });
    ui::ScriptInput input(fds[0], true);
    using R = ui::ScriptInput::Result;
    std::vector<std::pair<R, std::string>> got;
    std::string line;
    for (R r; (r = input.readLine(line)) != R::End;)
        got.emplace_back(r, r == R::Line ? line : "");
    writer.join();
    const std::vector<std::pair<R, std::string>> expected = {
        {R::Line, "one\r"}, {R::Line, ""}, {R::Line, "two"}, {R::TooLong, ""}, {R::Line, "three"}};
    EXPECT_EQ(got, expected);
    EXPECT_FALSE(input.failed());
}

} // namespace
