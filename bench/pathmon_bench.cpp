// The path monitor against mtr, both whole processes as a user runs them in the
// host's namespace of a path made of network namespaces (three routers, router 2
// dropping 30% of its time-exceeded answers):
//  1. CPU time per probe for ROUNDS rounds at 0.05 s: `wstoolbox --headless` driven
//     by a script (open Path_mon TARGET 0.05 ROUNDS, wait for the report, quit),
//     its lines written to a file, against `mtr -r -n -c ROUNDS -i 0.05`. Each of
//     RUNS runs starts the two at once, each on a path of its own, so that both meet
//     the same machine (this one's speed drifts by a third within minutes); prints
//     the medians, the ratio of the medians and the spread of the per-run ratios.
//     Probes are the echo requests each path's host counted.
//  2. The program's resident memory during 1,000 rounds on a 30-hop path (29
//     routers), after a quarter of them and at the end: the chart's and the
//     statistics' windows hold everything a run keeps, so it should not grow.
// Needs root (namespaces, nftables, mtr's interval below a second).
// Usage: pathmon_bench [RUNS [ROUNDS]]; RUNS 0 measures the memory alone.
#include "benchstats.h"
#include "../tests/platform/pathnetwork.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using bench::median;

struct Run {
    double cpuMs = -1;
    long probes = 0;
};

// The echo requests sent from the calling thread's network namespace.
long echoesSent() {
    std::ifstream in("/proc/thread-self/net/snmp");
    std::string header, values;
    while (std::getline(in, header) && std::getline(in, values)) {
        if (header.rfind("Icmp: ", 0) != 0) continue;
        std::istringstream names(header), numbers(values);
        std::string name, number;
        while (names >> name && numbers >> number)
            if (name == "OutEchos") return std::stol(number);
    }
    return -1;
}

pid_t spawn(const std::vector<std::string>& argv, const std::string& output) {
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (std::FILE* out = std::fopen(output.c_str(), "w")) ::dup2(::fileno(out), 1);
        if (std::FILE* null = std::fopen("/dev/null", "w")) ::dup2(::fileno(null), 2);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

// The process's user and system time, from its own accounting at its end.
Run runProcess(const std::vector<std::string>& argv, const std::string& output) {
    const long before = echoesSent();
    const pid_t pid = spawn(argv, output);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    Run run;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return run;
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    run.cpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
    run.probes = echoesSent() - before;
    return run;
}

long residentKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

bool printed(const std::string& file, const std::string& text) {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        if (line.find(text) != std::string::npos) return true;
    return false;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 1000;
    const std::string program =
        (std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "wstoolbox")
            .string();
    const auto dir = std::filesystem::temp_directory_path() / "ws-pathmon-bench";
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    if (::geteuid() != 0 || std::system("command -v mtr >/dev/null") != 0) {
        std::printf("pathmon_bench: needs root and mtr; skipped\n");
        return 0;
    }
    const auto script = [](const std::string& name, const std::string& target, int count) {
        std::ofstream(name) << "open Path_mon " << target << " 0.05 " << count
                            << "\nwaitfor Path_mon#1 report 1000\nwait 1\nquit\n";
    };
    if (runs > 0) {
        PathNetwork ourPath(3), mtrPath(3);
        if (!ourPath.ready() || !mtrPath.ready() ||
            !ourPath.dropTimeExceeded(2, 30, dir.string()) ||
            !mtrPath.dropTimeExceeded(2, 30, dir.string())) {
            std::printf("pathmon_bench: network namespaces or nftables unavailable; skipped\n");
            return 0;
        }
        script("monitor.txt", ourPath.target(), rounds);
        const std::vector<std::string> ours = {program, "--headless", "--script", "monitor.txt"};
        const std::vector<std::string> mtr = {
            "mtr", "-r", "-n", "-c", std::to_string(rounds), "-i", "0.05", mtrPath.target()};
        // A side runs in a thread of its own in its path's host.
        const auto side = [](const PathNetwork& path, const std::vector<std::string>& argv,
                             const std::string& output, Run& run) {
            return std::thread([&path, &argv, output, &run] {
                if (path.host().enter()) run = runProcess(argv, output);
            });
        };
        std::vector<double> oursPerProbe, mtrPerProbe, ratios;
        for (int i = 0; i < runs; ++i) {
            // The two at once, mtr started first every other run.
            Run o, m;
            std::thread first = i % 2 ? side(mtrPath, mtr, "mtr.txt", m)
                                      : side(ourPath, ours, "ours.txt", o);
            std::thread second = i % 2 ? side(ourPath, ours, "ours.txt", o)
                                       : side(mtrPath, mtr, "mtr.txt", m);
            first.join();
            second.join();
            if (o.probes <= 0 || m.probes <= 0 || o.cpuMs < 0 || m.cpuMs < 0) {
                std::printf("pathmon_bench: a run failed\n");
                return 1;
            }
            oursPerProbe.push_back(o.cpuMs * 1000 / double(o.probes));
            mtrPerProbe.push_back(m.cpuMs * 1000 / double(m.probes));
            ratios.push_back(oursPerProbe.back() / mtrPerProbe.back());
        }
        const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
        std::printf("CPU per probe, %d rounds at 0.05 s on a 4-hop lossy path, median of %d "
                    "runs side by side\n",
                    rounds, runs);
        std::printf("  wstoolbox --headless (Path_mon): %6.1f us a probe\n", median(oursPerProbe));
        std::printf("  mtr -r -n -i 0.05:               %6.1f us a probe\n", median(mtrPerProbe));
        std::printf("  ratio %.2f (runs %.2f to %.2f; goal: at most 1.0)\n",
                    median(oursPerProbe) / median(mtrPerProbe), *low, *high);
    }
    // Memory: a fresh thread, as this one is in the first path's host namespace.
    std::thread([&] {
        PathNetwork network(29);
        if (!network.ready() || !network.host().enter()) {
            std::printf("pathmon_bench: the 30-hop path cannot be made\n");
            return;
        }
        // Without a script, whose driver keeps every line for its `waitfor`.
        const pid_t pid =
            spawn({program, "--headless", "--open", "Path_mon," + network.target() + ",0.05,1000"},
                  "long-out.txt");
        const auto start = std::chrono::steady_clock::now();
        long quarter = -1, end = -1;
        while (end < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (quarter < 0 &&
                std::chrono::steady_clock::now() - start > std::chrono::milliseconds(12500))
                quarter = residentKb(pid);
            if (printed("long-out.txt", "report 9")) end = residentKb(pid);
            if (std::chrono::steady_clock::now() - start > std::chrono::minutes(3)) break;
        }
        ::kill(pid, SIGTERM);
        int status = 0;
        ::waitpid(pid, &status, 0);
        std::printf("Resident memory, 1,000 rounds at 0.05 s on a 30-hop path: %.1f MB after 250 "
                    "rounds, %.1f MB after 1,000 (goal: under 40 MB, not growing)\n",
                    quarter / 1024.0, end / 1024.0);
    }).join();
    return 0;
}
