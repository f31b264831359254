#include "plainfixture.h"
#include "settings/settingsfile.h"
#include "support/fullbacklog.h"
#include "tools/plain/ws_client.h"

#include <algorithm>
#include <chrono>
#include <thread>

using namespace plain_testing;
using tools::WS_CLIENT;

namespace {

struct Client : PlainFixture {
    std::shared_ptr<ui::ToolWindow> client;

    void open(const std::string& port, const std::string& mode) {
        client = desktop->start("WS_CLIENT", {port, mode});
        ASSERT_TRUE(client);
        ASSERT_TRUE(
            waitUntil([&] { return client->model().caption().rfind("ws Client - ", 0) == 0; }));
    }
    void type(int control, const std::string& value) {
        client->invoke([&] { client->applyInput(control, value); }).get();
    }
    void press(int control) {
        client->invoke([&] { client->applyPress(control); }).get();
    }
    std::vector<std::string> lines() { return texts(*client, WS_CLIENT::LogList); }
    std::vector<std::string> linesFrom(std::size_t from) {
        auto all = lines();
        return {all.begin() + static_cast<long>(std::min(from, all.size())), all.end()};
    }
    // A TCP client connected to a listener of the test; the server's end returned.
    int connectToListener() {
        const int port = freePort(SOCK_STREAM);
        const int listener = holdPort(SOCK_STREAM, port);
        type(WS_CLIENT::PortEntry, std::to_string(port));
        press(WS_CLIENT::ConnectButton);
        const int peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        ::close(listener);
        timeval limit{5, 0};
        ::setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        return peer;
    }
    static std::string receive(int fd, std::size_t size) {
        std::string got;
        char buf[512];
        while (got.size() < size) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }
};

} // namespace

TEST_F(Client, SettingsOfTheModeCountOnlyWithAnAddressAndTheStartPortWins) {
    struct Case {
        const char* ini;
        const char* port;
        const char* mode;
        const char* caption;
        const char* button;
        const char* ip;
        const char* shownPort;
        bool crLf;
        const char* written; // what the close leaves in the file
    };
    const Case cases[] = {
        {"", "", "UDP", "ws Client - UDP", "Create", "127.0.0.1", "8010", false,
         "UDPClientIP=127.0.0.1\r\nUDPPort=8010\r\nUDPCR=0\r\n"},
        {"TCPClientIP=\r\nTCPPort=9000\r\nTCPCR=1\r\n", "", "TCP", "ws Client - TCP", "",
         "127.0.0.1", "8010", false, "TCPClientIP=127.0.0.1\r\nTCPPort=8010\r\nTCPCR=0\r\n"},
        {"TCPClientIP=10.1.2.3\r\nTCPPort=9000\r\nTCPCR=1\r\n", "8088", "TCP", "ws Client - TCP",
         "", "10.1.2.3", "8088", true, "TCPClientIP=10.1.2.3\r\nTCPPort=8088\r\nTCPCR=1\r\n"},
        {"TCPClientIP=10.1.2.3\r\nUDPClientIP=10.9.9.9\r\nUDPPort=7000\r\n", "", "udp",
         "ws Client - UDP", "Create", "10.9.9.9", "7000", false,
         "UDPClientIP=10.9.9.9\r\nUDPPort=7000\r\nUDPCR=0\r\n"},
        // Not a 16-bit port: the default stays.
        {"TCPClientIP=10.1.2.3\r\nTCPPort=70000\r\n", "", "TCP", "ws Client - TCP", "", "10.1.2.3",
         "8010", false, "TCPPort=8010\r\n"},
    };
    for (const auto& c : cases) {
        ScratchDir::write("VARlo.INI", std::string("[Client Settings]\r\n") + c.ini);
        open(c.port, c.mode);
        EXPECT_EQ(client->model().caption(), c.caption);
        EXPECT_EQ(client->model().value(WS_CLIENT::ConnectButton), c.button);
        EXPECT_EQ(client->model().value(WS_CLIENT::IpEntry), c.ip) << c.ini;
        EXPECT_EQ(client->model().value(WS_CLIENT::PortEntry), c.shownPort) << c.ini;
        EXPECT_EQ(client->model().checked(WS_CLIENT::CrLfBox), c.crLf) << c.ini;
        EXPECT_TRUE(lines().empty());
        closeWindow(client);
        const std::string ini = ScratchDir::read("VARlo.INI");
        EXPECT_NE(ini.find(c.written), std::string::npos) << ini;
    }
}

TEST_F(Client, FirstConnectLogsEachStepAndCommandsGoOutAsTyped) {
    open("", "TCP");
    const int peer = connectToListener();
    ASSERT_GE(peer, 0);
    const auto log = lines();
    ASSERT_EQ(log.size(), 6u);
    const std::string number = log[2].substr(log[2].find('#') + 1);
    const std::vector<std::string> expected = {"Closing Socket...",     "Creating Socket...",
                                               "TCP Socket #" + number, "Binding Socket...",
                                               "Connecting...",         "Connected."};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(client->model().caption(), "Client TCP Socket #" + number);

    struct Case {
        std::string command;
        bool crLf;
        std::string status;
        std::string sent;
    };
    const std::string thirty = "abcdefghijklmnopqrstuvwxyz0123";
    const Case cases[] = {
        {"abc", true, "Sending data: abc", "abc\r\n"},
        {thirty, false, "Sending data: abcdef", thirty},
        {"trail   ", false, "Sending data: trail", "trail"},
    };
    for (const auto& c : cases) {
        type(WS_CLIENT::CommandEntry, c.command);
        client->invoke([&] { client->model().setChecked(WS_CLIENT::CrLfBox, c.crLf, true); }).get();
        const std::size_t before = lines().size();
        press(WS_CLIENT::SendButton);
        EXPECT_EQ(linesFrom(before), std::vector<std::string>{c.status});
        EXPECT_EQ(receive(peer, c.sent.size()), c.sent);
        EXPECT_EQ(client->model().value(WS_CLIENT::CommandEntry), "");
        EXPECT_EQ(client->model().focus(), WS_CLIENT::CommandEntry);
    }
    ::close(peer);
}

TEST_F(Client, EachReadShowsItsTextBeforeTheFirstZeroAndCarriageReturn) {
    open("", "TCP");
    const int peer = connectToListener();
    ASSERT_GE(peer, 0);
    struct Case {
        std::string reply;
        std::string shown;
    };
    const Case cases[] = {
        {"OK\r\nMORE\r\n", "OK"},
        {std::string("A\0B\rC", 5), "A"},
        {"line feed\nstays", "line feed\nstays"},
        {std::string(60, 'r') + "\r\n", std::string(40, 'r')},
    };
    for (const auto& c : cases) {
        const std::size_t before = lines().size();
        sendAll(peer, c.reply);
        ASSERT_TRUE(waitUntil([&] { return linesFrom(before).size() >= 2; }));
        EXPECT_EQ(linesFrom(before), (std::vector<std::string>{"reading...", c.shown}));
    }
    ::close(peer);
}

TEST_F(Client, ASendAfterTheServerClosedReportsTheErrorByName) {
    open("", "TCP");
    const int peer = connectToListener();
    ASSERT_GE(peer, 0);
    ::close(peer);
    // The first send after the close may still be taken by the system (its answer
    // is the peer's reset); a later one fails. Each press's own lines are taken on
    // the window's thread, so a notification handled between presses is not one.
    std::vector<std::string> logged;
    for (int i = 0; i < 20 && logged.size() < 2; ++i) {
        if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20)); // pacing only
        type(WS_CLIENT::CommandEntry, "x");
        const auto send = [&] {
            const std::size_t before = lines().size();
            client->applyPress(WS_CLIENT::SendButton);
            logged = linesFrom(before);
        };
        client->invoke(send).get();
        ASSERT_FALSE(logged.empty());
        EXPECT_EQ(logged[0], "Sending data: x");
    }
    ASSERT_EQ(logged.size(), 2u) << testing::PrintToString(lines());
    EXPECT_TRUE(logged[1] == "WSAECONNRESET" || logged[1] == "WSAECONNABORTED") << logged[1];
}

TEST_F(Client, ARefusedConnectStopsAfterItsErrorAndABadPortIsRefused) {
    open("", "TCP");
    type(WS_CLIENT::PortEntry, std::to_string(freePort(SOCK_STREAM)));
    press(WS_CLIENT::ConnectButton);
    auto log = lines();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[4], "Connecting...");
    EXPECT_EQ(log[5], "WSAECONNREFUSED");

    type(WS_CLIENT::PortEntry, "100000");
    client->model().setFocus(WS_CLIENT::ConnectButton);
    press(WS_CLIENT::ConnectButton);
    EXPECT_EQ(lines().size(), 6u);
    EXPECT_EQ(client->model().focus(), WS_CLIENT::PortEntry);
    EXPECT_TRUE(console.has("WS_CLIENT#1 beep"));
}

TEST_F(Client, UdpModeCreatesAConnectedSocketThatSendsAndReads) {
    const int port = freePort(SOCK_DGRAM);
    const int server = holdPort(SOCK_DGRAM, port);
    timeval limit{5, 0};
    ::setsockopt(server, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    open(std::to_string(port), "UDP");
    press(WS_CLIENT::ConnectButton);
    const auto log = lines();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[2].rfind("UDP Socket #", 0), 0u);
    EXPECT_EQ(client->model().caption().rfind("Client UDP Socket #", 0), 0u);
    type(WS_CLIENT::CommandEntry, "ping");
    press(WS_CLIENT::SendButton);
    char buf[64];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n =
        ::recvfrom(server, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    ASSERT_EQ(std::string(buf, static_cast<std::size_t>(std::max<ssize_t>(n, 0))), "ping");
    ::sendto(server, "pong\r\n", 6, 0, reinterpret_cast<sockaddr*>(&from), len);
    EXPECT_TRUE(waitForText(*client, "pong", WS_CLIENT::LogList));
    ::close(server);
}

// A connect to a server that never answers blocks the window's thread; closing the
// window cancels it at once (WSAEINTR in the log), and the window then closes as
// usual and saves its settings.
TEST_F(Client, ClosingTheWindowCancelsAConnectThatHangs) {
    testing_support::FullBacklog backlog;
    ASSERT_TRUE(backlog.full());
    open(std::to_string(backlog.port()), "TCP");
    RowRecorder log(WS_CLIENT::LogList);
    client->model().addObserver(&log);
    client->postControl(WS_CLIENT::ConnectButton);
    ASSERT_TRUE(waitUntil([&] { return log.countStartingWith("Connecting...") == 1; }));
    client->postClose();
    ASSERT_TRUE(waitUntil([&] { return client->isClosed(); }, 10000))
        << "the close waited for the connect";
    client->model().removeObserver(&log);
    const auto texts = log.texts();
    const auto connecting = std::find(texts.begin(), texts.end(), "Connecting...");
    ASSERT_NE(connecting, texts.end());
    ASSERT_NE(connecting + 1, texts.end());
    EXPECT_EQ(*(connecting + 1), "WSAEINTR");
    EXPECT_EQ(ReadSetting("Client Settings", "TCPClientIP", ""), "127.0.0.1");
    EXPECT_EQ(ReadSetting("Client Settings", "TCPPort", ""), std::to_string(backlog.port()));
}
