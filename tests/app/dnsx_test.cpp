// The host lookup window as the program opens it at start-up, driven by a script.
#include "app/program.h"
#include "platform/scratchdir.h"

#include <gtest/gtest.h>

TEST(HostLookup, OpensWithTheFrameAnswersInBoxesAndKeepsItsSettings) {
    ScratchDir dir;
    ScratchDir::write("VARlo.INI",
                      "[DNS Settings]\r\nIPtoName=127.0.0.1\r\nNametoIP=localhost\r\n");
    const std::string script = "waitfor DNSx open\n"
                               "press DNSx IP..\n"
                               "waitfor DNSx \"box Name - IP\"\n"
                               "set DNSx 7 1.2.x\n"
                               "press DNSx Name..\n"
                               "waitfor DNSx \"answer OK\"\n"
                               "set DNSx 6 ws-dnsx-test.invalid\n"
                               "quit\n";
    Program program({"--headless", "--script", "-"}, script);
    ASSERT_EQ(program.wait(30000), 0) << program.output();
    const std::string& out = program.output();
    EXPECT_EQ(out.find("timeout"), std::string::npos) << out;
    EXPECT_TRUE(program.printed(
        "DNSx#1 box Name - IP\tasterisk\t Host IP: 127.0.0.1| Host name: localhost"))
        << out;
    // The Windows-1250 text reaches the console as UTF-8.
    EXPECT_TRUE(program.printed("DNSx#1 box \tnone\tPogre\xC5\xA1"
                                "an IP: 1.2.x"))
        << out;
    // At the end both fields are saved as they stand.
    const std::string ini = ScratchDir::read("VARlo.INI");
    EXPECT_NE(ini.find("[DNS Settings]\r\nIPtoName=1.2.x\r\nNametoIP=ws-dnsx-test.invalid\r\n"),
              std::string::npos)
        << ini;
}
