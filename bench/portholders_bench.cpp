// A TCP port check of ports 1024 to 65535 that names who holds every port in use,
// against what a person would do without it: a bare loop of socket, bind and close
// over the same ports (IPv4, and IPv6 alone where IPv4 is free), then one
// `ss -tlpn` to see the owners. Both run in a network namespace of their own where
// one can be made, with the same listeners of this process in it (the pass over
// /proc still reads every process of the machine).
// The two sides alternate over the rounds; prints the median of each, the median
// of the per-round ratios and their spread.
#include "benchstats.h"
#include "bindscan.h"
#include "../tests/platform/netnamespace.h"

#include "tools/portcheck/port_chk.h"
#include "tools/registertools.h"
#include "ui/console/consolefrontend.h"
#include "ui/console/consoleoutput.h"
#include "ui/desktop.h"
#include "ui/procedureregistry.h"

#include <QCoreApplication>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using bench::median;
using bench::msSince;

using Clock = std::chrono::steady_clock;
constexpr int kFirst = 1024;
constexpr int kListeners = 64;

// The reference: the bare port check over the range (bindScan), then ss for the
// owners. Its time in ms, -1 when a bind failed with anything but "in use".
double bareScanAndSs(int& inUse) {
    const auto start = Clock::now();
    inUse = bench::bindScan(kFirst);
    if (inUse < 0) return -1;
    if (std::system("ss -tlpn >/dev/null 2>&1") != 0) return -1;
    return msSince(start);
}

// Our check by the window's own handler; its time in ms, and how many ports it
// found in use and how many holder lines it wrote.
double ourCheck(ui::ToolWindow& window, std::size_t& inUse, std::size_t& holderLines) {
    const auto start = Clock::now();
    window
        .invoke([&] {
            window.applyInput(tools::Port_chk::FirstEntry, std::to_string(kFirst));
            window.applyInput(tools::Port_chk::LastEntry, "65535");
            window.applyPress(tools::Port_chk::TcpOption);
            window.applyPress(tools::Port_chk::GoButton);
        })
        .get();
    const double ms = msSince(start);
    inUse = holderLines = 0;
    for (const auto& row : window.model().rows(tools::Port_chk::Log)) {
        if (row[1].rfind("Port: ", 0) == 0) ++inUse;
        if (row[1].rfind("  held by ", 0) == 0) ++holderLines;
    }
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 9;
    QCoreApplication app(argc, argv);
    NetNamespace ns("holders");
    const bool isolated = ns.made() && ns.enter(); // the window's thread and ss inherit it
    const auto dir = std::filesystem::temp_directory_path() / "ws-portholders-bench";
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);

    // Listeners spread over the range, so that the check has holders to name.
    std::vector<int> listeners;
    for (int i = 0; i < kListeners; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(20000 + i * 500));
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd, 4) == 0)
            listeners.push_back(fd);
        else
            ::close(fd);
    }

    std::FILE* null = std::fopen("/dev/null", "w");
    ui::ConsoleOutput output(null);
    ui::ConsoleFrontEnd frontEnd(output);
    ui::ProcedureRegistry registry;
    tools::registerTools(registry);
    auto desktop = std::make_unique<ui::Desktop>(frontEnd, registry);
    auto window = desktop->start("Port_chk");
    window->invoke([] {}).get(); // opened

    int bareInUse = 0;
    std::size_t ourInUse = 0, holderLines = 0;
    // Both once first: the socket and page caches warm.
    if (bareScanAndSs(bareInUse) < 0) {
        std::printf("portholders_bench: the bare scan or ss failed\n");
        return 1;
    }
    ourCheck(*window, ourInUse, holderLines);
    std::vector<double> ours, reference, ratios;
    for (int i = 0; i < rounds; ++i) {
        // The side that goes first alternates, so neither always meets a machine the
        // other has just warmed or loaded.
        double o = 0, r = 0;
        if (i % 2 == 0) {
            o = ourCheck(*window, ourInUse, holderLines);
            r = bareScanAndSs(bareInUse);
        } else {
            r = bareScanAndSs(bareInUse);
            o = ourCheck(*window, ourInUse, holderLines);
        }
        ours.push_back(o);
        reference.push_back(r);
        ratios.push_back(o / r);
    }
    desktop->closeAll();
    desktop.reset();
    std::fclose(null);
    for (const int fd : listeners)
        ::close(fd);
    std::sort(ratios.begin(), ratios.end());
    std::printf("TCP port check of ports %d-65535 with holders (%s), %d alternated rounds;\n"
                "%zu ports in use, %zu holder lines\n",
                kFirst, isolated ? "own network namespace" : "host namespace", rounds, ourInUse,
                holderLines);
    std::printf("  wstoolbox Port_chk with holders (headless):  %.1f ms (median)\n", median(ours));
    std::printf("  socket/bind/close loop + one ss -tlpn:       %.1f ms (median)\n",
                median(reference));
    std::printf("  ratio %.2f (spread %.2f - %.2f; goal: at most 1.3)\n", median(ratios),
                ratios.front(), ratios.back());
    return static_cast<std::size_t>(bareInUse) == ourInUse && holderLines >= ourInUse ? 0 : 1;
}
