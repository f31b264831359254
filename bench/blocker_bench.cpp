// Connections trapped per second: the TCP port blocker (WSAAsyncSelect, its event
// loop, the search of its listening sockets, a log line, the close and the count
// in its caption, through the headless console renderer) against a bare epoll
// loop that accepts and closes on the same ports. The same client drives both:
// it keeps kInFlight connections open to 127.0.0.1, spread over the ports in
// turn, and counts one when the server has closed it. Run with 1, 10 and 100
// ports: the blocker's cost must not grow with the length of its list.
#include "benchsockets.h"
#include "net/shellstate.h"
#include "tools/registertools.h"
#include "ui/console/consolefrontend.h"
#include "ui/console/consoleoutput.h"
#include "ui/desktop.h"
#include "ui/procedureregistry.h"
#include "ui/toolwindow.h"
#include "ui/windowmodel.h"

#include <QCoreApplication>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <sys/epoll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kInFlight = 64;

using bench::loopback;

std::vector<int> freeTcpPorts(std::size_t count) {
    std::set<int> ports;
    while (ports.size() < count) ports.insert(bench::freePort(SOCK_STREAM));
    return {ports.begin(), ports.end()};
}

// Makes `total` connections, kInFlight at a time; connections per second, or 0
// when some were not closed by the server within a minute.
double drive(const std::vector<int>& ports, int total) {
    const int ep = ::epoll_create1(EPOLL_CLOEXEC);
    int started = 0, done = 0, active = 0;
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::seconds(60);
    while (done < total && std::chrono::steady_clock::now() < deadline) {
        for (; active < kInFlight && started < total; ++started, ++active) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            const sockaddr_in to =
                loopback(ports[static_cast<std::size_t>(started) % ports.size()]);
            ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            epoll_event ev{};
            ev.events = EPOLLIN | EPOLLRDHUP;
            ev.data.fd = fd;
            ::epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
        }
        epoll_event events[256];
        const int n = ::epoll_wait(ep, events, 256, 100);
        for (int i = 0; i < n; ++i) {
            char c;
            const ssize_t got = ::recv(events[i].data.fd, &c, 1, 0);
            if (got > 0 || (got < 0 && errno == EAGAIN)) continue;
            ::close(events[i].data.fd);
            --active;
            if (got == 0) ++done;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::close(ep);
    return done == total ? total / seconds : 0;
}

// The reference: one thread, one epoll set over listeners on the same ports,
// each ready listener accepted until empty, every connection closed at once.
double bareLoop(const std::vector<int>& ports, int total) {
    std::vector<int> listeners;
    const int ep = ::epoll_create1(EPOLL_CLOEXEC);
    for (int port : ports) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, SOMAXCONN);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        ::epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
        listeners.push_back(fd);
    }
    std::atomic<bool> stop{false};
    std::thread server([&] {
        epoll_event events[128];
        while (!stop) {
            const int n = ::epoll_wait(ep, events, 128, 50);
            for (int i = 0; i < n; ++i)
                for (int c;
                     (c = ::accept4(events[i].data.fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;)
                    ::close(c);
        }
    });
    const double rate = drive(ports, total);
    stop = true;
    server.join();
    for (int fd : listeners)
        ::close(fd);
    ::close(ep);
    return rate;
}

double blocker(ui::Desktop& desktop, const std::vector<int>& ports, int total) {
    std::string list;
    for (int port : ports)
        list += std::to_string(port) + ", bench\r\n";
    std::ofstream("Varlo.tcp", std::ios::binary | std::ios::trunc) << list;
    auto window = desktop.start("WS_TcpB");
    window->invoke([] {}).get(); // its sockets are set up
    const double rate = drive(ports, total);
    const std::string caption = window->model().caption();
    if (caption.find(" Hit:" + std::to_string(total)) == std::string::npos) {
        std::fprintf(stderr, "blocker counted wrongly: %s\n", caption.c_str());
        return 0;
    }
    window->postClose();
    desktop.waitAllClosed(10000);
    return rate;
}

} // namespace

int main(int argc, char** argv) {
    const int total = argc > 1 ? std::atoi(argv[1]) : 20000;
    std::vector<std::size_t> portCounts = {1, 10, 100};
    if (argc > 2) portCounts = {std::strtoul(argv[2], nullptr, 10)};
    QCoreApplication app(argc, argv);
    const auto dir = std::filesystem::temp_directory_path() / "ws-blocker-bench";
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    std::filesystem::remove("VARlo.INI");
    shell::Sound = 0;

    std::FILE* sink = std::fopen("/dev/null", "w");
    ui::ConsoleOutput output(sink);
    ui::ConsoleFrontEnd console(output);
    ui::ProcedureRegistry registry;
    tools::registerTools(registry);
    ui::Desktop desktop(console, registry);

    std::printf("blocker: %d connections, %d at a time\n", total, kInFlight);
    std::vector<double> ratios;
    for (const std::size_t portCount : portCounts) {
        const std::vector<int> ports = freeTcpPorts(portCount);
        double ours = 0, bare = 0;
        // Alternate the two a few times and keep each one's best run.
        for (int round = 0; round < 3; ++round) {
            bare = std::max(bare, bareLoop(ports, total));
            ours = std::max(ours, blocker(desktop, ports, total));
        }
        ratios.push_back(ours / bare);
        std::printf(
            "  %3zu ports: WS_TcpB %6.0f connections/s, bare epoll loop %6.0f: ratio %.2f\n",
            portCount, ours, bare, ours / bare);
    }
    std::printf("  ratio %.2f at %zu ports (goal: at least 0.6, and not falling as ports grow)\n",
                ratios.back(), portCounts.back());
    std::fclose(sink);
    return 0;
}
