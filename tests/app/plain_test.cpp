// The launcher, the servers and the client together in the running program.
#include "app/program.h"
#include "platform/scratchdir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A port nobody holds for TCP and UDP at this moment.
int freePort() {
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int tcp = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        socklen_t len = sizeof a;
        ::bind(tcp, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::getsockname(tcp, reinterpret_cast<sockaddr*>(&a), &len);
        const int udp = ::socket(AF_INET, SOCK_DGRAM, 0);
        const bool free = ::bind(udp, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(udp);
        ::close(tcp);
        if (free) return ntohs(a.sin_port);
    }
    return 0;
}

} // namespace

TEST(PlainTools, LauncherStartsAUdpServerAndAClientThatTalksToIt) {
    ScratchDir dir;
    const std::string port = std::to_string(freePort());
    const std::string script = "waitfor Unos_porta open\n"
                               "set Unos_porta 2 " +
                               port +
                               "\n"
                               "press Unos_porta Udp\n"
                               "waitfor WS_Udp \"waiting to accept()...\"\n"
                               "choose 2\n"
                               "press Unos_porta Client\n"
                               "waitfor WS_CLIENT \"caption ws Client - UDP\"\n"
                               "press WS_CLIENT 5\n"
                               "set WS_CLIENT 6 Hello UDP\n"
                               "press WS_CLIENT Send\n"
                               "waitfor WS_Udp \"Hello UDP\"\n"
                               "quit\n";
    Program program({"--headless", "--script", "-"}, script);
    ASSERT_EQ(program.wait(30000), 0) << program.output();
    const std::string& out = program.output();
    EXPECT_EQ(out.find("timeout"), std::string::npos) << out;
    EXPECT_NE(out.find("WS_Udp#1 caption UDP - "), std::string::npos);
    EXPECT_NE(out.find(":" + port + " (Hit:1)"), std::string::npos) << out;
    EXPECT_NE(out.find("\t127.0.0.1:"), std::string::npos);
    EXPECT_TRUE(program.printed("Unos_porta#1 menu Tcp|Udp|-|Http")) << out;
    // The client's mode keys are saved when the program ends.
    const std::string ini = ScratchDir::read("VARlo.INI");
    EXPECT_NE(ini.find("UDPPort=" + port + "\r\n"), std::string::npos) << ini;
}

TEST(PlainTools, TcpServerFromTheLauncherLogsAPeerInLowerCase) {
    ScratchDir dir;
    const int port = freePort();
    Program program({"--headless", "--script", "-"},
                    "set Unos_porta 2 " + std::to_string(port) + "\npress Unos_porta Tcp\n");
    ASSERT_TRUE(program.waitForOutput("waiting to accept()..."));
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::send(fd, "  Hello World\r\n", 15, 0), 15);
    EXPECT_TRUE(program.waitForOutput("hello world\\r\\n"));
    ::close(fd);
    EXPECT_TRUE(program.waitForOutput("closing client socket..."));
    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(), 0);
    EXPECT_TRUE(program.printed("WS_Tcp#1 closed")) << program.output();
}
