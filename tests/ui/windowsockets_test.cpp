// A tool window's sockets are watched by the window's own loop: notifications are
// found, posted and handled on the window's thread.
#include "support/testwindows.h"
#include "ui/messagehook.h"

#include "platform/winsock.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

constexpr win::UINT kNotify = win::WM_USER + 101;

// Notes who posts its socket notifications and what its hook sees; `onNotify`
// runs in the hook, on the window's thread.
class SocketWindow : public ui::ToolWindow {
public:
    SocketWindow() : ToolWindow("Sockets", ui::WindowDefinition{}) {}

    void postMessage(const win::Message& m) override {
        if (m.msg == kNotify) {
            std::lock_guard lock(m_mutex);
            m_posters.push_back(std::this_thread::get_id());
            m_posted.notify_all();
        }
        ToolWindow::postMessage(m);
    }

    std::function<void(const win::Message&)> onNotify;

    std::thread::id windowThread() {
        std::lock_guard lock(m_mutex);
        return m_windowThread;
    }
    std::vector<std::thread::id> posters() {
        std::lock_guard lock(m_mutex);
        return m_posters;
    }
    std::vector<std::pair<win::Message, std::thread::id>> handled() {
        std::lock_guard lock(m_mutex);
        return m_handled;
    }
    // Proves an absence: true when no notification is posted within `quiet`.
    bool noPostWithin(std::chrono::milliseconds quiet) {
        std::unique_lock lock(m_mutex);
        const std::size_t before = m_posters.size();
        return !m_posted.wait_for(lock, quiet, [&] { return m_posters.size() != before; });
    }

protected:
    void onOpen() override {
        {
            std::lock_guard lock(m_mutex);
            m_windowThread = std::this_thread::get_id();
        }
        installHook(std::make_shared<Hook>(*this));
    }
    bool usesPlacement() const override { return false; }

private:
    class Hook : public ui::MessageHook {
    public:
        explicit Hook(SocketWindow& window) : m_window(window) {}
        bool handle(ui::ToolWindow&, const win::Message& m, win::LRESULT&) override {
            if (m.msg != kNotify) return false;
            {
                std::lock_guard lock(m_window.m_mutex);
                m_window.m_handled.emplace_back(m, std::this_thread::get_id());
            }
            if (m_window.onNotify) m_window.onNotify(m);
            return true;
        }

    private:
        SocketWindow& m_window;
    };

    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::thread::id m_windowThread;
    std::vector<std::thread::id> m_posters;
    std::vector<std::pair<win::Message, std::thread::id>> m_handled;
};

struct WindowSockets : ::testing::Test {
    CapturedConsole console;
    ui::ProcedureRegistry registry;
    ui::Desktop desktop{console.frontEnd, registry};

    void SetUp() override {
        win::WSADATA data;
        ASSERT_EQ(win::WSAStartup(0x0101, &data), 0);
    }
    void TearDown() override {
        desktop.closeAll();
        desktop.waitAllClosed(5000);
        win::WSACleanup();
    }

    std::shared_ptr<SocketWindow> startWindow() {
        auto window = std::static_pointer_cast<SocketWindow>(
            desktop.start(std::make_unique<SocketWindow>()));
        EXPECT_TRUE(waitUntil([&] { return window->windowThread() != std::thread::id(); }));
        return window;
    }

    // A connected pair on 127.0.0.1: the accepted side and the client.
    static std::pair<win::SOCKET, win::SOCKET> connectedPair() {
        const win::SOCKET server = win::socket(AF_INET, SOCK_STREAM, 0);
        win::sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = win::htonl(INADDR_LOOPBACK);
        win::bind(server, reinterpret_cast<win::sockaddr*>(&a), sizeof a);
        int len = sizeof a;
        win::getsockname(server, reinterpret_cast<win::sockaddr*>(&a), &len);
        win::listen(server, 4);
        const win::SOCKET client = win::socket(AF_INET, SOCK_STREAM, 0);
        win::connect(client, reinterpret_cast<win::sockaddr*>(&a), sizeof a);
        const win::SOCKET served = win::accept(server, nullptr, nullptr);
        win::closesocket(server);
        return {served, client};
    }

    static win::u_long waiting(win::SOCKET s) {
        win::u_long n = 0;
        return win::ioctlsocket(s, FIONREAD, &n) == 0 ? n : 0;
    }
};

} // namespace

TEST_F(WindowSockets, NotificationsArePostedAndHandledOnTheWindowsOwnThread) {
    auto window = startWindow();
    // WSAAsyncSelect from the window's own handler or from any other thread.
    for (const bool fromWindowThread : {true, false}) {
        auto [served, client] = connectedPair();
        auto select = [&, served = served] {
            EXPECT_EQ(win::WSAAsyncSelect(served, window->hwnd(), kNotify, win::FD_READ), 0);
        };
        if (fromWindowThread)
            window->invoke(select).get();
        else
            select();
        const std::size_t before = window->handled().size();
        ASSERT_EQ(win::send(client, "ping", 4, 0), 4);
        ASSERT_TRUE(waitUntil([&] { return window->handled().size() > before; }))
            << (fromWindowThread ? "registered on the window's thread" : "registered elsewhere");
        const auto [message, thread] = window->handled().back();
        EXPECT_EQ(message.wParam, served);
        EXPECT_EQ(message.lParam, win::WSAMAKESELECTREPLY(win::FD_READ, 0));
        EXPECT_EQ(thread, window->windowThread());
        win::closesocket(served);
        win::closesocket(client);
    }
    for (const auto& poster : window->posters()) EXPECT_EQ(poster, window->windowThread());
}

TEST_F(WindowSockets, ClosesocketInAHandlerDropsWhatTheSameLookFoundForTheClosedSockets) {
    auto window = startWindow();
    auto [first, firstClient] = connectedPair();
    auto [second, secondClient] = connectedPair();
    for (win::SOCKET s : {first, second})
        ASSERT_EQ(win::WSAAsyncSelect(s, window->hwnd(), kNotify, win::FD_READ | win::FD_CLOSE), 0);
    // Whichever socket is handled first closes both, on the window's thread, while
    // the notification of the other one is already queued.
    window->onNotify = [&, first = first, second = second](const win::Message&) {
        win::closesocket(first);
        win::closesocket(second);
    };
    // Both sockets have data before the window looks again, so one look finds both.
    window->invoke([&, first = first, second = second, a = firstClient, b = secondClient] {
              win::send(a, "1", 1, 0);
              win::send(b, "2", 1, 0);
              EXPECT_TRUE(waitUntil([&] { return waiting(first) > 0 && waiting(second) > 0; }));
          })
        .get();
    ASSERT_TRUE(waitUntil([&] { return !window->handled().empty(); }));
    // The peers close too: nothing of the closed sockets may come any more.
    win::closesocket(firstClient);
    win::closesocket(secondClient);
    EXPECT_TRUE(window->noPostWithin(200ms));
    window->invoke([] {}).get(); // everything queued before has run
    EXPECT_EQ(window->handled().size(), 1u);
    EXPECT_EQ(window->posters().size(), 2u) << "both found by the same look";
}

TEST_F(WindowSockets, WindowClosingWithSocketsStillRegisteredGetsNothingMore) {
    auto window = startWindow();
    auto [served, client] = connectedPair();
    window->invoke([&, served = served] {
              EXPECT_EQ(win::WSAAsyncSelect(served, window->hwnd(), kNotify,
                                            win::FD_READ | win::FD_CLOSE),
                        0);
          })
        .get();
    window->postClose();
    ASSERT_TRUE(desktop.waitAllClosed(5000));
    ASSERT_EQ(win::send(client, "late", 4, 0), 4);
    win::shutdown(client, SHUT_WR);
    EXPECT_TRUE(window->noPostWithin(200ms)) << "posted to a closed window";
    // The socket itself stays registered, as with Winsock: blocking mode is refused.
    win::u_long blocking = 0;
    EXPECT_EQ(win::ioctlsocket(served, FIONBIO, &blocking), win::SOCKET_ERROR);
    // Once the window object is gone, so is the registration.
    std::weak_ptr<SocketWindow> gone = window;
    window.reset();
    ASSERT_TRUE(waitUntil([&] { return gone.expired(); }));
    EXPECT_EQ(win::ioctlsocket(served, FIONBIO, &blocking), 0);
    char buf[16];
    EXPECT_EQ(win::recv(served, buf, sizeof buf, 0), 4);
    win::closesocket(served);
    win::closesocket(client);
}
