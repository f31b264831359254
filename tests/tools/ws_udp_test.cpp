#include "plainfixture.h"

#include <chrono>
#include <cstdio>
#include <thread>

using namespace plain_testing;

namespace {

struct UdpServer : PlainFixture {
    int port = 0;
    int sender = -1;
    std::string from; // "127.0.0.1:<sender's port>"
    std::shared_ptr<ui::ToolWindow> server;

    void SetUp() override {
        port = freePort(SOCK_DGRAM);
        server = startServer("WS_Udp", std::to_string(port));
        sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const sockaddr_in any = loopback(0);
        ::bind(sender, reinterpret_cast<const sockaddr*>(&any), sizeof any);
        from = "127.0.0.1:" + std::to_string(localPort(sender));
    }
    void TearDown() override { ::close(sender); }

    void send(const std::string& data) {
        const sockaddr_in to = loopback(port);
        ::sendto(sender, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    }
    long hits() {
        const std::string caption = server->model().caption();
        const auto at = caption.rfind("(Hit:");
        return at == std::string::npos ? 0 : std::atol(caption.c_str() + at + 5);
    }
};

} // namespace

TEST_F(UdpServer, EachDatagramIsOneLineWithItsSenderAsReceived) {
    struct Case {
        std::string sent;
        std::string shown; // empty: no line
    };
    const std::string longer(200, 'D');
    const Case cases[] = {
        {"Hello", from + " Hello"},
        {"  Mixed CASE  kept", from + "   Mixed CASE  kept"},
        {longer, (from + " " + longer).substr(0, 80)},
        {std::string("Before\0After", 12), from + " Before"},
        {"", ""},
        // Longer than the receive buffer: its start is still shown.
        {std::string(2000, 'L'), (from + " " + std::string(2000, 'L')).substr(0, 80)},
    };
    long expectedHits = 0;
    for (const auto& c : cases) {
        const std::size_t before = texts(*server).size();
        send(c.sent);
        ++expectedHits;
        ASSERT_TRUE(waitUntil([&] { return hits() == expectedHits; })) << c.sent.size();
        const auto lines = texts(*server);
        if (c.shown.empty()) {
            EXPECT_EQ(lines.size(), before);
        } else {
            ASSERT_EQ(lines.size(), before + 1) << c.shown;
            EXPECT_EQ(lines.back(), c.shown);
        }
    }
    EXPECT_EQ(server->model().caption().substr(server->model().caption().find(" (Hit:")),
              " (Hit:" + std::to_string(expectedHits) + ")");
}

TEST_F(UdpServer, ASecondServerOnTheSamePortBindsThatPort) {
    auto second = startServer("WS_Udp", std::to_string(port));
    for (const auto& line : texts(*second))
        EXPECT_EQ(line.rfind("trying port: ", 0), std::string::npos);
    EXPECT_NE(second->model().caption().find(":" + std::to_string(port) + " ("), std::string::npos);
    EXPECT_FALSE(hasText(*second, "WSAEADDRINUSE"));
}

TEST_F(UdpServer, LoadDatagramsAtTwentyThousandASecondAreCountedAndTheWindowAnswers) {
    const int datagrams = 100000;
    const int perSecond = 20000;
    RowRecorder recorder(1);
    server->model().addObserver(&recorder);

    // While the flood runs the window must still take its turn for other work.
    std::atomic<bool> flooding{true};
    std::atomic<long long> worstAnswerMs{0};
    std::thread probe([&] {
        while (flooding) {
            const auto asked = std::chrono::steady_clock::now();
            auto done = server->invoke([] {});
            if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
                worstAnswerMs = 10000;
                return;
            }
            const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - asked)
                                     .count();
            if (ms > worstAnswerMs) worstAnswerMs = ms;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });

    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < datagrams; ++i) {
        // Paced, not bursty: datagram i leaves at i / perSecond seconds.
        if (i % 20 == 0)
            std::this_thread::sleep_until(start +
                                          std::chrono::microseconds(1000000LL * i / perSecond));
        send("datagram " + std::to_string(i));
    }
    const double sendSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Whatever was received is handled once the queue drains: wait until the count
    // stops moving.
    long last = -1;
    for (int quiet = 0; quiet < 5;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const long now = hits();
        quiet = now == last ? quiet + 1 : 0;
        last = now;
    }
    flooding = false;
    probe.join();
    server->model().removeObserver(&recorder);

    const long counted = hits();
    const std::size_t lines = recorder.countStartingWith(from + " datagram ");
    std::printf("[ load ] %d datagrams sent in %.2f s; %ld counted, %ld lost (%.2f%%); worst "
                "answer %lld ms\n",
                datagrams, sendSeconds, counted, datagrams - counted,
                100.0 * (datagrams - counted) / datagrams, worstAnswerMs.load());
    EXPECT_GT(counted, 0);
    EXPECT_LE(counted, datagrams);
    EXPECT_EQ(lines, static_cast<std::size_t>(counted)); // every datagram received is logged
    EXPECT_LT(worstAnswerMs.load(), 2000);
}
