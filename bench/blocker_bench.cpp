// Connections trapped per second: the TCP port blocker (WSAAsyncSelect, its event
// loop, the search of its listening sockets, a log line, the close and the count
// in its caption, through the headless console renderer) against a bare epoll
// loop that accepts and closes on the same ports. The same client drives both:
// it keeps kInFlight connections open to 127.0.0.1, spread over the ports in
// turn, and counts one when the server has closed it. Run with 1, 10 and 100
// ports: the blocker's cost must not grow with the length of its list. The
// blocker traps every port on IPv6 as well: the same client over ::1 measures
// that side against the blocker's own IPv4 figure of the same round.
#include "benchstats.h"
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
constexpr int kRounds = 7;

using bench::Spread;
using bench::spread;

using bench::loopback;

std::vector<int> freeTcpPorts(std::size_t count) {
    std::set<int> ports;
    while (ports.size() < count) ports.insert(bench::freePort(SOCK_STREAM));
    return {ports.begin(), ports.end()};
}

// Makes `total` connections, kInFlight at a time, to 127.0.0.1 or (v6) ::1;
// connections per second, or 0 when some were not closed by the server within a
// minute.
double drive(const std::vector<int>& ports, int total, bool v6 = false) {
    const int ep = ::epoll_create1(EPOLL_CLOEXEC);
    int started = 0, done = 0, active = 0;
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::seconds(60);
    while (done < total && std::chrono::steady_clock::now() < deadline) {
        for (; active < kInFlight && started < total; ++started, ++active) {
            const int port = ports[static_cast<std::size_t>(started) % ports.size()];
            const int fd =
                ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (v6) {
                sockaddr_in6 to{};
                to.sin6_family = AF_INET6;
                to.sin6_addr = in6addr_loopback;
                to.sin6_port = htons(static_cast<std::uint16_t>(port));
                ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            } else {
                const sockaddr_in to = loopback(port);
                ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            }
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

double blocker(ui::Desktop& desktop, const std::vector<int>& ports, int total, bool v6) {
    std::string list;
    for (int port : ports)
        list += std::to_string(port) + ", bench\r\n";
    std::ofstream("Varlo.tcp", std::ios::binary | std::ios::trunc) << list;
    auto window = desktop.start("WS_TcpB");
    window->invoke([] {}).get(); // its sockets are set up
    const double rate = drive(ports, total, v6);
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

    std::printf("blocker: %d connections, %d at a time, median of %d alternated rounds "
                "(lowest-highest)\n",
                total, kInFlight, kRounds);
    bool met = true;
    for (const std::size_t portCount : portCounts) {
        const std::vector<int> ports = freeTcpPorts(portCount);
        std::vector<double> v4ToBare, v6ToV4;
        double bareRate = 0, v4Rate = 0, v6Rate = 0;
        for (int round = 0; round < kRounds; ++round) {
            // Each round runs the three in another order, so that a machine slowing
            // down or warming up during the run weighs on all of them alike.
            double rate[3] = {};
            for (int k = 0; k < 3; ++k) {
                const int which = (round + k) % 3;
                rate[which] = which == 0   ? bareLoop(ports, total)
                              : which == 1 ? blocker(desktop, ports, total, false)
                                           : blocker(desktop, ports, total, true);
            }
            bareRate += rate[0] / kRounds;
            v4Rate += rate[1] / kRounds;
            v6Rate += rate[2] / kRounds;
            v4ToBare.push_back(rate[0] > 0 ? rate[1] / rate[0] : 0);
            v6ToV4.push_back(rate[1] > 0 ? rate[2] / rate[1] : 0);
        }
        const Spread a = spread(v4ToBare), b = spread(v6ToV4);
        met = met && a.median >= 0.85 && b.median >= 0.9;
        std::printf("  %3zu ports: bare epoll loop %6.0f/s, WS_TcpB IPv4 %6.0f/s, IPv6 %6.0f/s\n"
                    "             IPv4/bare %.2f (%.2f-%.2f), IPv6/IPv4 %.2f (%.2f-%.2f)\n",
                    portCount, bareRate, v4Rate, v6Rate, a.median, a.low, a.high, b.median, b.low,
                    b.high);
    }
    std::printf("  goals: IPv4/bare at least 0.85 and IPv6/IPv4 at least 0.9 at every port "
                "count: %s\n",
                met ? "met" : "NOT met");
    std::fclose(sink);
    return 0;
}
