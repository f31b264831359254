// The program against what a careless user or a silent peer puts in its way:
// a pipe where the settings file should be, a server that never answers a connect.
#include "app/program.h"
#include "platform/scratchdir.h"
#include "support/fullbacklog.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

TEST(HostileInput, APipeNamedLikeTheSettingsFileNeitherHoldsTheStartNorIsReplaced) {
    ScratchDir dir;
    ASSERT_EQ(::mkfifo("VARlo.INI", 0644), 0);
    Program program({"--headless", "--script", "-"}, "quit\n");
    const int status = program.wait(20000);
    if (status < 0) {
        // Let a program stuck on the pipe go, so the test ends.
        const int writer = ::open("VARlo.INI", O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
    }
    ASSERT_EQ(status, 0) << program.output();
    EXPECT_TRUE(program.printed("MainWS#1 closed"));
    struct stat st {};
    ASSERT_EQ(::lstat("VARlo.INI", &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(HostileInput, TheSessionEndingCancelsAHangingConnectAndTheClientSavesItsSettings) {
    testing_support::FullBacklog backlog;
    ASSERT_TRUE(backlog.full());
    ScratchDir dir;
    const std::string port = std::to_string(backlog.port());
    Program program({"--headless", "--open", "WS_CLIENT," + port + ",TCP", "--script", "-"},
                    "press WS_CLIENT 5\n");
    ASSERT_TRUE(program.waitForOutput("\tConnecting...")) << program.output();
    program.signal(SIGTERM);
    ASSERT_EQ(program.wait(20000), 0) << program.output();
    EXPECT_NE(program.output().find("\tWSAEINTR\n"), std::string::npos) << program.output();
    EXPECT_TRUE(program.printed("WS_CLIENT#1 closed")) << program.output();
    const std::string ini = ScratchDir::read("VARlo.INI");
    EXPECT_NE(ini.find("[Client Settings]\r\nTCPClientIP=127.0.0.1\r\nTCPPort=" + port + "\r\n"),
              std::string::npos)
        << ini;
}
