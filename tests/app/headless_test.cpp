#include "app/program.h"
#include "platform/scratchdir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

const char* kShellSections[] = {
    "[VARlo Settings]\r\nSound=0\r\n",
    "[MainWS]\r\nMaximize=No\r\n",
    "[__Dont_Touch_Me__]\r\nSectors=0\r\n",
};

} // namespace

TEST(Headless, QuitInAnEmptyDirectoryWritesTheSettingsFile) {
    ScratchDir dir;
    Program program({"--headless", "--script", "-"}, "quit\n");
    ASSERT_EQ(program.wait(), 0) << program.output();
    EXPECT_TRUE(program.printed("MainWS#1 open"));
    EXPECT_TRUE(program.printed("MainWS#1 closed"));
    const std::string ini = ScratchDir::read("VARlo.INI");
    for (const char* section : kShellSections)
        EXPECT_NE(ini.find(section), std::string::npos) << ini;
}

TEST(Headless, SoundSwitchShowsItsMarkAndIsWrittenBackWhenToggled) {
    ScratchDir dir;
    ScratchDir::write("VARlo.INI", "[VARlo Settings]\r\nSound=1\r\n");
    Program program({"--headless", "--script", "-"},
                    "dump MainWS\nmenu WS/Sound\ndump MainWS\nquit\n");
    ASSERT_EQ(program.wait(), 0) << program.output();
    const std::string& out = program.output();
    const auto on = out.find("MainWS#1 dump menu Sound check 1");
    const auto off = out.find("MainWS#1 dump menu Sound check 0");
    ASSERT_NE(on, std::string::npos) << out;
    ASSERT_NE(off, std::string::npos) << out;
    EXPECT_LT(on, off);
    EXPECT_NE(ScratchDir::read("VARlo.INI").find("Sound=0\r\n"), std::string::npos);
}

TEST(Headless, AboutBeepsAndShowsItsBox) {
    ScratchDir dir;
    Program program({"--headless", "--script", "-"}, "menu WS/About\nquit\n");
    ASSERT_EQ(program.wait(), 0);
    const std::string& out = program.output();
    const auto beep = out.find("MainWS#1 beep\n");
    const auto box = out.find("MainWS#1 box WS\tasterisk\t  WS toolbox|");
    ASSERT_NE(beep, std::string::npos) << out;
    ASSERT_NE(box, std::string::npos) << out;
    EXPECT_LT(beep, box);
    EXPECT_TRUE(program.printed("MainWS#1 answer OK"));
}

TEST(Headless, TerminationSignalsEndTheSessionAndSaveTheSettings) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        ScratchDir dir;
        ScratchDir::write("VARlo.INI", "[VARlo Settings]\r\nSound=1\r\n");
        Program program({"--headless"});
        ASSERT_TRUE(program.waitForOutput("MainWS#1 open"));
        program.signal(sig);
        ASSERT_EQ(program.wait(), 0) << sig << program.output();
        EXPECT_TRUE(program.printed("MainWS#1 closed")) << program.output();
        const std::string ini = ScratchDir::read("VARlo.INI");
        EXPECT_NE(ini.find("[VARlo Settings]\r\nSound=1\r\n"), std::string::npos) << ini;
        EXPECT_NE(ini.find("[__Dont_Touch_Me__]\r\nSectors=0\r\n"), std::string::npos) << ini;
    }
}

TEST(Headless, CommandLineMistakesAreRefusedWithUsage) {
    ScratchDir dir;
    Program help({"--help"});
    EXPECT_EQ(help.wait(), 0);
    EXPECT_NE(help.output().find("waitfor WINDOW TEXT [SECONDS]"), std::string::npos);
    Program version({"--version"});
    EXPECT_EQ(version.wait(), 0);
    EXPECT_TRUE(version.output().starts_with("wstoolbox 0.1 (")) << version.output();
    Program bad({"--frobnicate"});
    EXPECT_EQ(bad.wait(), 2);
    Program scriptWithoutHeadless({"--script", "x"});
    EXPECT_EQ(scriptWithoutHeadless.wait(), 2);
}

TEST(Headless, ScriptFileCommandsWaitForWindowsAndPrintTimeouts) {
    ScratchDir dir;
    ScratchDir::write(
        "s.txt", "waitfor MainWS \"dump zone\" 0.3\ndump MainWS\nwaitfor MainWS zone 3\nquit\n");
    Program program({"--headless", "--script", "s.txt"});
    ASSERT_EQ(program.wait(), 1); // the timed-out wait counts
    EXPECT_TRUE(program.printed("MainWS#1 timeout waitfor dump zone")) << program.output();
    EXPECT_NE(program.output().find("MainWS#1 dump zone 3 "), std::string::npos);
}

namespace {

struct ScriptCase {
    const char* name;
    const char* script;
    int status;
    const char* printed; // a line that shows the script ran to its end
};

class ScriptStatus : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(ScriptStatus, SaysWhetherEveryCommandRanAndTheScriptRunsToItsEnd) {
    const ScriptCase& c = GetParam();
    ScratchDir dir;
    ScratchDir::write("s.txt", c.script);
    Program program({"--headless", "--script", "s.txt"}, {}, Program::Setup::errorsToo());
    ASSERT_EQ(program.wait(), c.status) << program.output();
    EXPECT_TRUE(program.printed(c.printed)) << program.output();
    // The frame closed through its own handler: the settings were saved.
    EXPECT_TRUE(program.printed("MainWS#1 closed")) << program.output();
    EXPECT_NE(ScratchDir::read("VARlo.INI").find("[VARlo Settings]\r\nSound=0\r\n"),
              std::string::npos);
    EXPECT_EQ(program.output().find("MainWS#2"), std::string::npos) << program.output();
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, ScriptStatus,
    ::testing::Values(
        ScriptCase{"AllRan", "dump MainWS\nmenu WS/About\nquit\n", 0, "MainWS#1 answer OK"},
        ScriptCase{"NoSuchControl", "press MainWS 1\nmenu WS/About\nquit\n", 1,
                   "script line 1: no control 1 in MainWS#1"},
        ScriptCase{"NumberTooLarge", "set MainWS 2147483648 x\nmenu WS/About\nquit\n", 1,
                   "script line 1: no control 2147483648 in MainWS#1"},
        ScriptCase{"EndlessWait", "wait 1e300\nmenu WS/About\nquit\n", 1, "MainWS#1 answer OK"},
        ScriptCase{"SecondFrame", "open MainWS\nmenu WS/About\nquit\n", 1,
                   "script line 1: MainWS is open already: the frame is single-instance"},
        ScriptCase{"TimedOut", "waitfor MainWS nothing-like-it 0.1\nmenu WS/About\nquit\n", 1,
                   "MainWS#1 answer OK"},
        ScriptCase{"UnknownCommand", "frobnicate\nmenu WS/About\nquit\n", 1, "MainWS#1 answer OK"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Headless, AScriptThatCannotBeReadEndsAtOnceWithStatus2) {
    ScratchDir dir;
    std::filesystem::create_directory("folder");
    for (const char* script : {"missing.txt", "folder"}) {
        Program program({"--headless", "--script", script}, {}, Program::Setup::errorsToo());
        EXPECT_EQ(program.wait(), 2) << script;
        EXPECT_NE(program.output().find(std::string("cannot read script ") + script),
                  std::string::npos)
            << program.output();
        EXPECT_EQ(program.output().find("MainWS#1 open"), std::string::npos) << program.output();
    }
}

TEST(Headless, ASignalEndsTheProgramWhileItsScriptWaitsForInput) {
    ScratchDir dir;
    Program program({"--headless", "--script", "-"}, "dump MainWS\n",
                    Program::Setup::inputKeptOpen());
    ASSERT_TRUE(program.waitForOutput("MainWS#1 dump zone 3"));
    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(), 0) << program.output();
    EXPECT_TRUE(program.printed("MainWS#1 closed")) << program.output();
}

TEST(Headless, WithoutADisplayTheWindowsAreRefusedWithOneClearLine) {
    ScratchDir dir;
    const char* line = "no display: run with --headless, or set DISPLAY";
    const Program::Setup cases[] = {
        {{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}, {}, false, true, {}},
        {{"WAYLAND_DISPLAY"}, {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":9876"}}, false, true, {}},
    };
    for (const Program::Setup& setup : cases) {
        Program program({}, {}, setup);
        EXPECT_EQ(program.wait(), 1) << program.output();
        EXPECT_NE(program.output().find(line), std::string::npos) << program.output();
    }
}

} // namespace
