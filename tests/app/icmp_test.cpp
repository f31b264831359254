#include "app/program.h"
#include "platform/scratchdir.h"

#include <gtest/gtest.h>

// The frame's menu opens the ping and traceroute windows, and both answer for the
// local host in the built program.
TEST(HeadlessIcmp, PingAndTracerouteFromTheMenuAnswerForTheLocalHost) {
    ScratchDir dir;
    Program program({"--headless", "--script", "-"},
                    "menu WS/Ping\nset Ping_ip 3 127.0.0.1\npress Ping_ip Ping\n"
                    "menu WS/Traceroute\nset Traceroute 2 127.0.0.1\npress Traceroute Go\nquit\n");
    ASSERT_EQ(program.wait(30000), 0) << program.output();
    const std::string& out = program.output();
    EXPECT_NE(out.find("Ping_ip#1 box PING\tnone\t127.0.0.1||0   [ ip success ]|"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("|32 bytes|01234567890123456789012345678901\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Traceroute#1 row 6 001\t127.0.0.1\t-----\t"), std::string::npos) << out;
    const std::string ini = ScratchDir::read("VARlo.INI");
    EXPECT_NE(ini.find("[Ping Settings]\r\nPing=127.0.0.1\r\nPingTr=127.0.0.1\r\nNode=0\r\n"),
              std::string::npos)
        << ini;
}
