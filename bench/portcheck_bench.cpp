// A full TCP scan of ports 1 to 65535: once by our Port_chk window (the "Go"
// handler on the window's thread, headless, its lines printed to /dev/null), once
// by a bare loop of socket, bind and close over the same ports, on IPv4 and,
// where IPv4 is free, on IPv6 alone, as the window does. Both run in a
// network namespace of their own where one can be made, so the ports in use are
// the same for both. Prints the median time of each and their ratio. The low
// ports need root (or CAP_NET_BIND_SERVICE); without it both stop early and the
// benchmark says so.
#include "benchstats.h"
#include "bindscan.h"
#include "../tests/platform/netnamespace.h"

#include "net/shellstate.h"
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

// The reference (bindScan): its time in ms, -1 when a bind failed with anything
// but "in use".
double bareScan(int& inUse) {
    const auto start = Clock::now();
    inUse = bench::bindScan(1);
    return inUse < 0 ? -1 : msSince(start);
}

// Our scan by the window's own handler; its time in ms, -1 unless it went through
// the whole range.
double ourScan(ui::ToolWindow& window, std::size_t& inUse) {
    const auto start = Clock::now();
    window
        .invoke([&] {
            window.applyInput(tools::Port_chk::FirstEntry, "1");
            window.applyInput(tools::Port_chk::LastEntry, "65535");
            window.applyPress(tools::Port_chk::TcpOption);
            window.applyPress(tools::Port_chk::GoButton);
        })
        .get();
    const double ms = msSince(start);
    const auto rows = window.model().rows(tools::Port_chk::Log);
    inUse = rows.size() - 2;
    const bool whole = rows.size() >= 2 && rows.front()[1] == "TCP: 1 - 65535" &&
                       rows.back()[1] == "***" &&
                       std::all_of(rows.begin() + 1, rows.end() - 1,
                                   [](const ui::Row& r) { return r[1].rfind("Port: ", 0) == 0; });
    return whole ? ms : -1;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 7;
    QCoreApplication app(argc, argv);
    NetNamespace ns("bench");
    const bool isolated = ns.made() && ns.enter(); // the window's thread inherits it
    const auto dir = std::filesystem::temp_directory_path() / "ws-portcheck-bench";
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);

    std::FILE* null = std::fopen("/dev/null", "w");
    ui::ConsoleOutput output(null);
    ui::ConsoleFrontEnd frontEnd(output);
    ui::ProcedureRegistry registry;
    tools::registerTools(registry);
    auto desktop = std::make_unique<ui::Desktop>(frontEnd, registry);
    auto window = desktop->start("Port_chk");
    window->invoke([] {}).get(); // opened

    int bareInUse = 0;
    std::size_t ourInUse = 0;
    // Both once first: the socket caches warm.
    if (bareScan(bareInUse) < 0 || ourScan(*window, ourInUse) < 0) {
        std::printf("portcheck_bench: a scan stopped early (the low ports need root)\n");
        return 1;
    }
    std::vector<double> ours, reference;
    for (int i = 0; i < runs; ++i) {
        ours.push_back(ourScan(*window, ourInUse));
        reference.push_back(bareScan(bareInUse));
    }
    desktop->closeAll();
    desktop.reset();
    std::fclose(null);
    if (std::count(ours.begin(), ours.end(), -1.0) ||
        std::count(reference.begin(), reference.end(), -1.0)) {
        std::printf("portcheck_bench: some scans stopped early\n");
        return 1;
    }
    const double o = median(ours), r = median(reference);
    std::printf("TCP scan of ports 1-65535 (%s), median of %d runs; %zu ports in use\n",
                isolated ? "own network namespace" : "host namespace", runs, ourInUse);
    std::printf("  wstoolbox Port_chk (headless):        %.1f ms\n", o);
    std::printf("  socket/bind/close loop:               %.1f ms\n", r);
    std::printf("  ratio %.2f (goal: at most 1.3)\n", o / r);
    return static_cast<std::size_t>(bareInUse) == ourInUse ? 0 : 1;
}
