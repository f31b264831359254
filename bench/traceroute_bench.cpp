// A three-hop trace through routers made of network namespaces, like for like:
// both sides are whole processes as a user runs them in the host's namespace, the
// headless program driven by a script (open the window, type the address, press
// Go, quit) against `traceroute -I -q 1 -n`. Prints the median time of each, their
// ratio, and the time per probe: a process's time divided by the echo requests it
// sent (counted by the host's kernel). Needs root (or the rights to make network
// namespaces); says so and ends otherwise.
#include "benchstats.h"
#include "../tests/platform/icmpnetwork.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using bench::median;

struct Run {
    double ms = -1;
    long probes = 0;
    bool reachedTarget = false;
};

// The echo requests the calling process's namespace has sent so far.
long echoesSent() {
    std::ifstream in("/proc/self/net/snmp");
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

// Runs `argv` in the host's namespace (this process is in it) with its output in
// `output`; its time in ms and the probes it sent.
Run runProcess(const std::vector<std::string>& argv, const std::string& output) {
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const long before = echoesSent();
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (std::FILE* out = std::fopen(output.c_str(), "w")) ::dup2(::fileno(out), 1);
        if (std::FILE* null = std::fopen("/dev/null", "w")) ::dup2(::fileno(null), 2);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    Run run;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return run;
    run.ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    run.probes = echoesSent() - before;
    std::ifstream in(output);
    const std::string printed((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    run.reachedTarget = printed.find(IcmpNetwork::Target) != std::string::npos;
    return run;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 30;
    const std::string program =
        (std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "wstoolbox")
            .string();
    IcmpNetwork network;
    if (!network.ready()) {
        std::printf("traceroute_bench: network namespaces cannot be made here; skipped\n");
        return 0;
    }
    // The program writes its settings at close; keep them out of the way.
    const auto dir = std::filesystem::temp_directory_path() / "ws-traceroute-bench";
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    std::ofstream("trace.txt") << "open Traceroute\nset Traceroute 2 " << IcmpNetwork::Target
                               << "\npress Traceroute Go\nquit\n";
    // From here on every process this one starts, and its counters, are the host's.
    if (!network.host.enter()) {
        std::printf("traceroute_bench: cannot enter the host's namespace\n");
        return 1;
    }
    const std::vector<std::string> ours = {program, "--headless", "--script", "trace.txt"};
    const std::vector<std::string> reference = {"traceroute", "-I", "-q",
                                                "1",          "-n", IcmpNetwork::Target};
    // Both once first: neighbour tables filled, binaries in the cache.
    const Run warmOurs = runProcess(ours, "ours.txt");
    const Run warmReference = runProcess(reference, "reference.txt");
    if (!warmOurs.reachedTarget || !warmReference.reachedTarget) {
        std::printf("traceroute_bench: a trace failed (is Debian's traceroute installed?)\n");
        return 1;
    }
    std::vector<double> oursMs, referenceMs, oursPerProbe, referencePerProbe;
    for (int i = 0; i < runs; ++i) {
        const Run o = runProcess(ours, "ours.txt");
        const Run r = runProcess(reference, "reference.txt");
        if (!o.reachedTarget || !r.reachedTarget || o.probes <= 0 || r.probes <= 0) {
            std::printf("traceroute_bench: some traces failed\n");
            return 1;
        }
        oursMs.push_back(o.ms);
        referenceMs.push_back(r.ms);
        oursPerProbe.push_back(o.ms / double(o.probes));
        referencePerProbe.push_back(r.ms / double(r.probes));
    }
    const double o = median(oursMs), r = median(referenceMs);
    std::printf("3-hop trace through network namespaces, whole processes, median of %d runs\n",
                runs);
    std::printf("  wstoolbox --headless --script (open, Go, quit): %7.2f ms, %5.2f ms a probe\n", o,
                median(oursPerProbe));
    std::printf("  traceroute -I -q 1 -n:                          %7.2f ms, %5.2f ms a probe\n", r,
                median(referencePerProbe));
    std::printf("  ratio %.2f\n", o / r);
    return 0;
}
