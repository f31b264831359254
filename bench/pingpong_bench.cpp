// Messages ping-ponged between two loopback TCP sockets: once through a tool
// window (WSAAsyncSelect notifications, the hook, the window's event loop), once
// by a bare epoll loop on one thread. Prints both rates and their ratio.
#include "net/socketeventhook.h"
#include "platform/winsock.h"
#include "ui/console/consolefrontend.h"
#include "ui/console/consoleoutput.h"
#include "ui/desktop.h"
#include "ui/procedureregistry.h"
#include "ui/toolwindow.h"

#include <QCoreApplication>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <unistd.h>

namespace {

constexpr int kMessageSize = 16;

struct Pair {
    int a = -1, b = -1;
};

// A connected pair of loopback TCP sockets with Nagle off.
Pair connectedPair() {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    ::listen(listener, 1);
    Pair p;
    p.a = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(p.a, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    p.b = ::accept(listener, nullptr, nullptr);
    ::close(listener);
    int one = 1;
    ::setsockopt(p.a, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(p.b, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return p;
}

double bareEpoll(int messages) {
    Pair p = connectedPair();
    int ep = ::epoll_create1(0);
    for (int fd : {p.a, p.b}) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        ::epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
    }
    char buf[kMessageSize] = {};
    const auto start = std::chrono::steady_clock::now();
    ::send(p.a, buf, kMessageSize, 0);
    int handled = 0;
    while (handled < messages) {
        epoll_event events[4];
        const int n = ::epoll_wait(ep, events, 4, 1000);
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            if (::recv(fd, buf, kMessageSize, 0) == kMessageSize) {
                ++handled;
                ::send(fd, buf, kMessageSize, 0);
            }
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::close(ep);
    ::close(p.a);
    ::close(p.b);
    return messages / seconds;
}

// Each message read from either socket is sent back on the same socket.
class PingPongWindow : public ui::ToolWindow {
public:
    PingPongWindow(int messages, std::promise<double>& done)
        : ToolWindow("PingPong", ui::WindowDefinition{}), m_messages(messages), m_done(done) {}
    bool usesPlacement() const override { return false; }

protected:
    void onOpen() override {
        installHook(std::make_shared<net::SocketEventHook>(net::SocketEventHook::Variant::Client));
        win::SOCKET listener = win::socket(AF_INET, SOCK_STREAM, 0);
        win::sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = win::htonl(INADDR_LOOPBACK);
        win::bind(listener, reinterpret_cast<win::sockaddr*>(&addr), sizeof addr);
        int len = sizeof addr;
        win::getsockname(listener, reinterpret_cast<win::sockaddr*>(&addr), &len);
        win::listen(listener, 1);
        m_a = win::socket(AF_INET, SOCK_STREAM, 0);
        win::connect(m_a, reinterpret_cast<win::sockaddr*>(&addr), sizeof addr);
        m_b = win::accept(listener, nullptr, nullptr);
        win::closesocket(listener);
        int one = 1;
        for (win::SOCKET s : {m_a, m_b})
            win::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
        for (win::SOCKET s : {m_a, m_b})
            win::WSAAsyncSelect(s, hwnd(), net::SocketNotifyMessage, win::FD_READ);
        m_start = std::chrono::steady_clock::now();
        char buf[kMessageSize] = {};
        win::send(m_a, buf, kMessageSize, 0);
    }
    void onUserEvent(int event, win::WPARAM socket, win::LPARAM) override {
        if (event != 1026 || m_handled >= m_messages) return;
        char buf[kMessageSize];
        if (win::recv(socket, buf, kMessageSize, 0) != kMessageSize) return;
        if (++m_handled == m_messages) {
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
            win::closesocket(m_a);
            win::closesocket(m_b);
            m_done.set_value(m_messages / seconds);
            return;
        }
        win::send(socket, buf, kMessageSize, 0);
    }

private:
    int m_messages;
    std::promise<double>& m_done;
    int m_handled = 0;
    win::SOCKET m_a = 0, m_b = 0;
    std::chrono::steady_clock::time_point m_start;
};

} // namespace

int main(int argc, char** argv) {
    const int messages = argc > 1 ? std::atoi(argv[1]) : 100000;
    QCoreApplication app(argc, argv);
    win::WSADATA data{};
    win::WSAStartup(0x0101, &data);

    std::FILE* sink = std::fopen("/dev/null", "w");
    ui::ConsoleOutput output(sink);
    ui::ConsoleFrontEnd console(output);
    ui::ProcedureRegistry registry;
    ui::Desktop desktop(console, registry);

    double ours = 0, bare = 0;
    // Alternate the two a few times and keep each one's best run.
    for (int round = 0; round < 3; ++round) {
        bare = std::max(bare, bareEpoll(messages));
        std::promise<double> done;
        auto window = desktop.start(std::make_unique<PingPongWindow>(messages, done));
        ours = std::max(ours, done.get_future().get());
        window->postClose();
        desktop.waitAllClosed(5000);
    }
    std::printf("pingpong: %d messages of %d bytes\n", messages, kMessageSize);
    std::printf("  tool window (WSAAsyncSelect + event loop): %.0f messages/s\n", ours);
    std::printf("  bare epoll loop:                           %.0f messages/s\n", bare);
    std::printf("  ratio %.2f (goal: at least 0.8)\n", ours / bare);
    win::WSACleanup();
    std::fclose(sink);
    return 0;
}
