// A sockets call blocking a thread is cancelled from another thread and fails with
// WSAEINTR at once, as Winsock 1.1's WSACancelBlockingCall makes it.
#include "platform/blockingcall.h"
#include "platform/socketstest.h"
#include "support/fullbacklog.h"

#include <chrono>
#include <future>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using testing_support::FullBacklog;

struct Outcome {
    int result = 0;
    int error = 0;
};

class BlockingCall : public SocketsTest {
protected:
    // A connected pair: `ours` a blocking socket of the layer, `peer` a plain one.
    void connectPair() {
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ASSERT_EQ(::listen(listener, 1), 0);
        ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
        ours = win::socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_EQ(win::connect(ours, reinterpret_cast<win::sockaddr*>(&a), sizeof a), 0);
        peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        ::close(listener);
    }
    void TearDown() override {
        if (ours != win::INVALID_SOCKET) win::closesocket(ours);
        if (peer >= 0) ::close(peer);
        SocketsTest::TearDown();
    }

    win::SOCKET ours = win::INVALID_SOCKET;
    int peer = -1;
};

Outcome outcome(int result) {
    return {result, win::WSAGetLastError()};
}

// Runs `call` twice on a thread of its own: the first is cancelled once it
// blocks, the second (started while the cancel holds) must fail without blocking.
template <typename Call> std::pair<Outcome, Outcome> cancelWhileBlocked(Call call) {
    std::promise<std::shared_ptr<win::BlockingThread>> published;
    auto token = published.get_future();
    auto done = std::async(std::launch::async, [&] {
        published.set_value(win::WSACurrentBlockingThread());
        const Outcome first = call();
        const Outcome second = call();
        win::WSAResumeBlockingCalls(*win::WSACurrentBlockingThread());
        return std::make_pair(first, second);
    });
    const auto thread = token.get();
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!thread->isBlocking() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(thread->isBlocking()) << "the call never blocked";
    EXPECT_EQ(win::WSACancelBlockingCall(*thread), 0);
    EXPECT_EQ(done.wait_for(10s), std::future_status::ready) << "the cancel did not reach it";
    return done.get();
}

TEST_F(BlockingCall, ConnectRecvAndSendAreCancelledWithWsaeintr) {
    FullBacklog backlog;
    ASSERT_TRUE(backlog.full());
    const sockaddr_in hanging = backlog.address();
    auto [connect1, connect2] = cancelWhileBlocked([&] {
        const win::SOCKET s = win::socket(AF_INET, SOCK_STREAM, 0);
        const Outcome o = outcome(
            win::connect(s, reinterpret_cast<const win::sockaddr*>(&hanging), sizeof hanging));
        win::closesocket(s);
        return o;
    });

    connectPair();
    char buf[16];
    auto [recv1, recv2] =
        cancelWhileBlocked([&] { return outcome(win::recv(ours, buf, sizeof buf, 0)); });
    // The peer never reads: the send fills both buffers and then blocks.
    const std::string big(64 << 20, 'x');
    auto [send1, send2] = cancelWhileBlocked(
        [&] { return outcome(win::send(ours, big.data(), static_cast<int>(big.size()), 0)); });

    for (const auto& [what, outcome] : {std::pair{"connect", connect1},
                                        {"connect again", connect2},
                                        {"recv", recv1},
                                        {"recv again", recv2},
                                        {"send again", send2}}) {
        EXPECT_EQ(outcome.result, win::SOCKET_ERROR) << what;
        EXPECT_EQ(outcome.error, win::WSAEINTR) << what;
    }
    // What the send had handed to the system before the cancel is said, as a
    // blocking send interrupted part way says it.
    EXPECT_GT(send1.result, 0);
    EXPECT_LT(send1.result, static_cast<int>(big.size()));
}

TEST_F(BlockingCall, ResumedCallsBlockAndWorkAgainAndIdleThreadsAreNotCancelled) {
    connectPair();
    auto thread = win::WSACurrentBlockingThread();
    EXPECT_EQ(win::WSACancelBlockingCall(*thread), win::SOCKET_ERROR);
    EXPECT_EQ(win::WSAGetLastError(), win::WSAEINVAL) << "no call was in progress";
    char buf[8] = {};
    EXPECT_EQ(win::recv(ours, buf, sizeof buf, 0), win::SOCKET_ERROR) << "the cancel holds";
    win::WSAResumeBlockingCalls(*thread);
    std::thread writer([this] {
        std::this_thread::sleep_for(50ms); // so the recv below waits for it
        ASSERT_EQ(::send(peer, "hello", 5, 0), 5);
    });
    EXPECT_EQ(win::recv(ours, buf, sizeof buf, 0), 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    writer.join();
}

} // namespace
