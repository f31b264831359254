// A three-hop trace through routers made of network namespaces: once by our
// Traceroute window (the "Go" handler on the window's thread, in the host's
// namespace), once by `traceroute -I -n -q 1 -w 0.2` run in the same namespace.
// Prints the median time to finish of each and their ratio. Needs root (or the
// rights to make network namespaces); says so and ends otherwise.
#include "../tests/platform/icmpnetwork.h"

#include "tools/icmp/traceroute.h"
#include "ui/console/consolefrontend.h"
#include "ui/console/consoleoutput.h"
#include "ui/desktop.h"
#include "ui/procedureregistry.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The reference in the host's namespace; its time to finish in ms, -1 on failure.
double referenceTrace(const NetNamespace& host) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!host.enter()) ::_exit(126);
        if (std::FILE* null = std::fopen("/dev/null", "w")) {
            ::dup2(::fileno(null), 1);
            ::dup2(::fileno(null), 2);
        }
        ::execlp("traceroute", "traceroute", "-I", "-n", "-q", "1", "-w", "0.2",
                 IcmpNetwork::Target, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// Our trace by the window's own handler; its time in ms, -1 unless it listed the
// two routers and the target.
double ourTrace(ui::ToolWindow& window) {
    const auto start = std::chrono::steady_clock::now();
    window
        .invoke([&] {
            window.applyInput(tools::Traceroute::AddressEntry, IcmpNetwork::Target);
            window.applyPress(tools::Traceroute::GoButton);
        })
        .get();
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const auto rows = window.model().rows(tools::Traceroute::HopList);
    return rows.size() == 3 && rows[2][1] == IcmpNetwork::Target ? ms : -1;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 30;
    QCoreApplication app(argc, argv);
    IcmpNetwork network;
    if (!network.ready()) {
        std::printf("traceroute_bench: network namespaces cannot be made here; skipped\n");
        return 0;
    }
    // The window writes its settings at close; keep them out of the way.
    const auto dir = std::filesystem::temp_directory_path() / "ws-traceroute-bench";
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);

    std::FILE* null = std::fopen("/dev/null", "w");
    ui::ConsoleOutput output(null);
    ui::ConsoleFrontEnd frontEnd(output);
    ui::ProcedureRegistry registry;
    auto desktop = std::make_unique<ui::Desktop>(frontEnd, registry);
    auto window = desktop->start(std::make_unique<tools::Traceroute>());
    bool entered = false;
    window->invoke([&] { entered = network.host.enter(); }).get();
    if (!entered) {
        std::printf("traceroute_bench: cannot enter the host's namespace\n");
        return 1;
    }

    // Both once first: neighbour tables filled, binaries in the cache.
    if (ourTrace(*window) < 0 || referenceTrace(network.host) < 0) {
        std::printf("traceroute_bench: a trace failed (is Debian's traceroute installed?)\n");
        return 1;
    }
    std::vector<double> ours, reference;
    for (int i = 0; i < runs; ++i) {
        ours.push_back(ourTrace(*window));
        reference.push_back(referenceTrace(network.host));
    }
    desktop->closeAll();
    desktop.reset();
    std::fclose(null);
    if (std::count(ours.begin(), ours.end(), -1.0) ||
        std::count(reference.begin(), reference.end(), -1.0)) {
        std::printf("traceroute_bench: some traces failed\n");
        return 1;
    }
    const double o = median(ours), r = median(reference);
    std::printf("3-hop trace through network namespaces, median of %d runs\n", runs);
    std::printf("  wstoolbox Traceroute:                 %.2f ms\n", o);
    std::printf("  traceroute -I -n -q 1 -w 0.2:         %.2f ms\n", r);
    std::printf("  ratio %.2f (goal: at most 1.2)\n", o / r);
    return 0;
}
