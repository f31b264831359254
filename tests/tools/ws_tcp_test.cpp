#include "plainfixture.h"

#include <chrono>
#include <cstdio>
#include <set>

using namespace plain_testing;

namespace {

struct TcpServer : PlainFixture {
    int port = 0;
    std::shared_ptr<ui::ToolWindow> server;

    void SetUp() override {
        port = freePort(SOCK_STREAM);
        server = startServer("WS_Tcp", std::to_string(port));
    }
    std::size_t rowCount() { return texts(*server).size(); }
    // Two peers connected, once the server has logged both accepts.
    std::pair<int, int> twoClients() {
        const int first = tcpConnect(port);
        const int second = tcpConnect(port);
        EXPECT_TRUE(waitUntil([&] {
            std::size_t accepts = 0;
            for (const auto& t : texts(*server))
                accepts += t.find(" accept #") != std::string::npos;
            return accepts == 2;
        }));
        return {first, second};
    }
    // The lines added after the first `from`.
    std::vector<std::string> linesFrom(std::size_t from) {
        auto all = texts(*server);
        return {all.begin() + static_cast<long>(std::min(from, all.size())), all.end()};
    }
};

} // namespace

TEST_F(TcpServer, ReceivedDataIsShownAsOneLowerCaseLinePerRead) {
    struct Case {
        std::string sent;
        std::string shown;
    };
    const Case cases[] = {
        {"  Hello World\r\n", "hello world\r\n"},
        // Windows-1250 letters: Š Č Ž and their small partners.
        {"\x8A\xC8\x8E ok", "\x9A\xE8\x9E ok"},
        {std::string("Before\0After", 12), "before"},
        {std::string(100, 'X'), std::string(80, 'x')},
    };
    int hits = 0;
    for (const auto& c : cases) {
        // Counted before connecting: the accept line may be logged before
        // tcpConnect returns.
        const std::size_t before = rowCount();
        const int fd = tcpConnect(port);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(waitUntil([&] { return rowCount() > before; })); // the accept line
        const std::string accepted = linesFrom(before).front();
        EXPECT_EQ(accepted, "127.0.0.1:" + std::to_string(localPort(fd)) + " accept #" +
                                accepted.substr(accepted.find('#') + 1));
        sendAll(fd, c.sent);
        EXPECT_TRUE(waitForText(*server, c.shown)) << c.shown;
        ++hits;
        const std::string caption = server->model().caption();
        const std::string hit = " (Hit:" + std::to_string(hits) + ")";
        EXPECT_EQ(caption.rfind(hit), caption.size() - hit.size()) << caption;
        const std::size_t beforeClose = rowCount();
        ::close(fd);
        ASSERT_TRUE(waitUntil([&] {
            const auto added = linesFrom(beforeClose);
            return std::find(added.begin(), added.end(), "closing client socket...") != added.end();
        }));
    }
    // Closed peers leave the server listening.
    const int again = tcpConnect(port);
    EXPECT_GE(again, 0);
    ::close(again);
}

TEST_F(TcpServer, ALargeSendIsLoggedReadByReadInLinesOfAtMost80) {
    // Counted before connecting: the accept line may be logged before tcpConnect
    // returns.
    const std::size_t before = rowCount() + 1; // after the accept line
    const int fd = tcpConnect(port);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(waitUntil([&] { return rowCount() >= before; }));
    sendAll(fd, std::string(3000, 'a'));
    // At most 1,024 bytes a read: three reads at least, each one line.
    ASSERT_TRUE(waitUntil([&] { return linesFrom(before).size() >= 3; }));
    ::close(fd);
    ASSERT_TRUE(waitUntil([&] {
        const auto added = linesFrom(before);
        return !added.empty() && added.back() == "closing client socket...";
    }));
    auto added = linesFrom(before);
    added.pop_back();
    EXPECT_GE(added.size(), 3u);
    for (const auto& line : added)
        EXPECT_EQ(line, std::string(line.size(), 'a'));
    for (const auto& line : added)
        EXPECT_LE(line.size(), 80u);
}

TEST_F(TcpServer, ConnectionsAreClosedWithTheWindowTheNewestAndTheDisplacedOnes) {
    const int before = openDescriptors();
    // Two accept lines; data from the newest is read.
    const auto [first, second] = twoClients();
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    sendAll(second, "newest");
    EXPECT_TRUE(waitForText(*server, "newest"));
    closeWindow(server);
    // Both peers see their connection end, and the server's descriptors are gone.
    for (int fd : {first, second}) {
        timeval limit{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        char c;
        EXPECT_EQ(::recv(fd, &c, 1, 0), 0);
    }
    ::close(first);
    ::close(second);
    EXPECT_TRUE(waitUntil([&] { return openDescriptors() <= before - 1; }))
        << openDescriptors() << " open, " << before << " before";
}

TEST_F(TcpServer, LoadAThousandClientsOneAfterAnotherAreAllLoggedAndLeaveNoDescriptor) {
    const int clients = 1000;
    RowRecorder recorder(1);
    server->model().addObserver(&recorder);
    const int before = openDescriptors();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < clients; ++i) {
        const int fd = tcpConnect(port);
        ASSERT_GE(fd, 0) << i;
        sendAll(fd, "Line " + std::to_string(i) + "\r\n");
        ::close(fd);
        ASSERT_TRUE(waitUntil([&] {
            return recorder.countStartingWith("closing client socket...") == std::size_t(i + 1);
        })) << "client "
            << i;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    server->model().removeObserver(&recorder);
    std::set<std::string> lines;
    for (const auto& t : recorder.texts())
        if (t.rfind("line ", 0) == 0) lines.insert(t);
    EXPECT_EQ(lines.size(), std::size_t(clients));
    for (int i = 0; i < clients; ++i)
        EXPECT_EQ(lines.count("line " + std::to_string(i) + "\r\n"), 1u) << i;
    EXPECT_EQ(recorder.countStartingWith("127.0.0.1:"), std::size_t(clients));
    EXPECT_EQ(openDescriptors(), before);
    std::printf("[ load ] %d clients in %.2f s (%.0f a second)\n", clients, seconds,
                clients / seconds);
}

// Each connection is read and closed on its own notifications; ClientSocket, the
// newest, is not the one an older connection's data or close acts on.
TEST_F(TcpServer, TwoClientsAreEachReadAndClosedOnTheirOwn) {
    const auto [first, second] = twoClients();
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    sendAll(first, "From The First");
    EXPECT_TRUE(waitForText(*server, "from the first"));
    sendAll(second, "From The Second");
    EXPECT_TRUE(waitForText(*server, "from the second"));
    ::close(first);
    ASSERT_TRUE(waitForText(*server, "closing client socket..."));
    // The newest is still connected and still read.
    sendAll(second, "Still Here");
    EXPECT_TRUE(waitForText(*server, "still here"));
    char c;
    EXPECT_EQ(::recv(second, &c, 1, MSG_DONTWAIT), -1) << "the newest was closed";
    for (const auto& t : texts(*server))
        EXPECT_EQ(t.find("WSAE"), std::string::npos) << t;
    ::close(second);
}

// Peers that connect and reset, two at a time: each connection is logged and
// closed, and the server keeps no descriptor of them.
TEST_F(TcpServer, ResetStormLeavesNoDescriptorBehind) {
    RowRecorder recorder(1);
    server->model().addObserver(&recorder);
    const int before = openDescriptors();
    // Two at a time: the server listens with a queue of one, and a connection the
    // queue has no room for waits a second for the retry.
    constexpr std::size_t kPeers = 500;
    for (std::size_t done = 0; done < kPeers; done += 2) {
        const int peers[] = {tcpConnect(port), tcpConnect(port)};
        for (int fd : peers) {
            ASSERT_GE(fd, 0) << done;
            const linger reset{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            ::close(fd);
        }
        ASSERT_TRUE(waitUntil([&] { return recorder.countStartingWith("127.0.0.1:") == done + 2; }))
            << done;
    }
    EXPECT_TRUE(waitUntil([&] {
        return recorder.countStartingWith("closing client socket...") == kPeers;
    })) << recorder.countStartingWith("closing client socket...");
    EXPECT_TRUE(waitUntil([&] { return openDescriptors() <= before; }))
        << openDescriptors() << " open, " << before << " before";
    server->model().removeObserver(&recorder);
}

// Bytes a peer sends that Windows-1250 leaves unassigned reach the headless output
// escaped, never as C1 control characters.
TEST_F(TcpServer, UnassignedBytesFromAPeerArePrintedEscaped) {
    const int fd = tcpConnect(port);
    ASSERT_GE(fd, 0);
    sendAll(fd, "x\x90\x98y");
    const std::string line = server->name() + " row 1 ";
    EXPECT_TRUE(waitUntil([&] {
        for (const auto& l : console.lines())
            if (l.rfind(line, 0) == 0 && l.ends_with("\tx\\x90\\x98y")) return true;
        return false;
    })) << console.lines().back();
    ::close(fd);
}
