#include "app/program.h"
#include "platform/scratchdir.h"

#include <gtest/gtest.h>

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
    for (const char* section : kShellSections) EXPECT_NE(ini.find(section), std::string::npos) << ini;
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
    Program bad({"--frobnicate"});
    EXPECT_EQ(bad.wait(), 2);
    Program scriptWithoutHeadless({"--script", "x"});
    EXPECT_EQ(scriptWithoutHeadless.wait(), 2);
}

TEST(Headless, ScriptFileCommandsWaitForWindowsAndPrintTimeouts) {
    ScratchDir dir;
    ScratchDir::write("s.txt", "waitfor MainWS \"dump zone\" 0.3\ndump MainWS\nwaitfor MainWS zone 3\nquit\n");
    Program program({"--headless", "--script", "s.txt"});
    ASSERT_EQ(program.wait(), 0);
    EXPECT_TRUE(program.printed("MainWS#1 timeout waitfor dump zone")) << program.output();
    EXPECT_NE(program.output().find("MainWS#1 dump zone 3 "), std::string::npos);
}
