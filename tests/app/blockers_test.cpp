// The blockers as a trap daemon: the built program run headless, probed from
// 127.0.0.1 on ports the test chose free.
#include "app/program.h"
#include "platform/scratchdir.h"
#include "support/loopbackports.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

using testing_support::freePort;
using testing_support::loopback;

int ownPort(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

// Connects and waits until the trap has closed the connection; the client's port.
int probeTcp(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    const sockaddr_in to = loopback(port);
    int result = -1;
    char c;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
        ::recv(fd, &c, 1, 0) == 0)
        result = ownPort(fd);
    ::close(fd);
    return result;
}

int probeUdp(int port, const std::string& data) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in own = loopback(0);
    ::bind(fd, reinterpret_cast<const sockaddr*>(&own), sizeof own);
    const sockaddr_in to = loopback(port);
    ::sendto(fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    const int result = ownPort(fd);
    ::close(fd);
    return result;
}

} // namespace

TEST(HeadlessBlockers, TcpTrapPrintsEveryHitAndSavesItsSectionWhenTheSessionEnds) {
    ScratchDir dir;
    const int port = freePort(SOCK_STREAM);
    ScratchDir::write("Varlo.tcp", std::to_string(port) + ", Trap\r\n");
    ScratchDir::write("VARlo.INI", "[VARlo Settings]\r\nSound=1\r\n");
    Program program({"--headless", "--open", "WS_TcpB"});
    ASSERT_TRUE(program.waitForOutput("\tTCP port: " + std::to_string(port) + " Trap\n"))
        << program.output();
    for (int hit = 1; hit <= 3; ++hit) {
        const int client = probeTcp(port);
        ASSERT_GT(client, 0);
        const std::string line = "\t" + std::to_string(port) +
                                 " Trap - 127.0.0.1:" + std::to_string(client) + " accept #";
        EXPECT_TRUE(program.waitForOutput(line)) << program.output();
        EXPECT_TRUE(program.waitForOutput(") Hit:" + std::to_string(hit) + "\n"));
    }
    EXPECT_TRUE(program.waitForOutput("WS_TcpB#1 cue Alarm.wav\n")) << program.output();
    program.signal(SIGTERM);
    ASSERT_EQ(program.wait(), 0) << program.output();
    EXPECT_TRUE(program.printed("WS_TcpB#1 closed"));
    const std::string ini = ScratchDir::read("VARlo.INI");
    EXPECT_NE(ini.find("[Tcp block]\r\nIgnore local=0\r\nAlarm=Alarm.wav\r\n"), std::string::npos)
        << ini;
    EXPECT_NE(ini.find("[WS_TcpB]\r\n"), std::string::npos) << ini;
}

TEST(HeadlessBlockers, UdpTrapDrivenByAScriptLogsTheDatagramWithItsNewAlarm) {
    ScratchDir dir;
    const int port = freePort(SOCK_DGRAM);
    ScratchDir::write("Varlo.udp", std::to_string(port) + ", Echo\r\n");
    ScratchDir::write("VARlo.INI", "[VARlo Settings]\r\nSound=1\r\n");
    Program program({"--headless", "--script", "-"},
                    "open WS_UdpB\nset WS_UdpB 4 Siren.wav\ndump WS_UdpB\n"
                    "waitfor WS_UdpB Hit:1 20\nquit\n");
    // The probe goes once the new alarm is in place: the dump runs after the set.
    ASSERT_TRUE(program.waitForOutput("\tUDP port: " + std::to_string(port) + " Echo\n"))
        << program.output();
    ASSERT_TRUE(program.waitForOutput("WS_UdpB#1 dump caption")) << program.output();
    const int sender = probeUdp(port, "hello");
    ASSERT_EQ(program.wait(), 0) << program.output();
    EXPECT_NE(program.output().find("\t" + std::to_string(port) +
                                    " Echo - 127.0.0.1:" + std::to_string(sender) + " hello\n"),
              std::string::npos)
        << program.output();
    EXPECT_TRUE(program.printed("WS_UdpB#1 cue Siren.wav"));
    const std::string ini = ScratchDir::read("VARlo.INI");
    EXPECT_NE(ini.find("[Udp block]\r\nIgnore local=0\r\nAlarm=Siren.wav\r\n"), std::string::npos)
        << ini;
}

TEST(HeadlessBlockers, MissingListIsAnsweredAndTheTrapStaysOpenWithoutPorts) {
    ScratchDir dir;
    Program program({"--headless", "--script", "-"},
                    "open WS_TcpB\nwaitfor WS_TcpB \"No ports\" 20\nquit\n");
    ASSERT_EQ(program.wait(), 0) << program.output();
    const std::string& out = program.output();
    const auto box = out.find("WS_TcpB#1 box \tnone\tCreate a file: Varlo.tcp  with comma|");
    const auto answer = out.find("WS_TcpB#1 answer OK\n");
    const auto line = out.find("\tNo ports in Varlo.tcp file !\n");
    ASSERT_NE(box, std::string::npos) << out;
    ASSERT_NE(answer, std::string::npos);
    ASSERT_NE(line, std::string::npos);
    EXPECT_LT(box, answer);
    EXPECT_LT(answer, line);
}
