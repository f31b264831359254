// Reading and writing a large settings file (10 MB of empty lines, the key at its
// end) through the profile functions, against the least such a read or write can
// do: the file read into one string and its lines counted; the new text written to
// a temporary file, flushed and renamed. Each measurement runs in a child process
// of its own, so its peak memory is its own.
#include "platform/profile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kFileBytes = 10 * 1024 * 1024;

struct Figures {
    double milliseconds = 0;
    double peakGrowthMb = 0;
};

long peakKb() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Runs `work` in a child process; its time and how far it raised the child's peak
// memory.
template <typename Work> Figures measure(Work work) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        const long before = peakKb();
        const auto start = std::chrono::steady_clock::now();
        work();
        Figures f;
        f.milliseconds =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        f.peakGrowthMb = double(peakKb() - before) / 1024.0;
        [[maybe_unused]] auto n = ::write(pipeFds[1], &f, sizeof f);
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    Figures f;
    [[maybe_unused]] auto n = ::read(pipeFds[0], &f, sizeof f);
    ::close(pipeFds[0]);
    ::waitpid(child, nullptr, 0);
    return f;
}

void writeFile(const std::string& name) {
    std::string content;
    content.reserve(kFileBytes + 32);
    while (content.size() < kFileBytes)
        content += "\r\n";
    content += "[S]\r\nk=found\r\n";
    std::ofstream(name, std::ios::binary) << content;
}

Figures median(std::vector<Figures> runs) {
    std::sort(runs.begin(), runs.end(),
              [](const Figures& a, const Figures& b) { return a.milliseconds < b.milliseconds; });
    Figures m = runs[runs.size() / 2];
    for (const Figures& f : runs)
        m.peakGrowthMb = std::max(m.peakGrowthMb, f.peakGrowthMb);
    return m;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    const auto dir = std::filesystem::temp_directory_path() / "ws-profile-bench";
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    writeFile("VARlo.INI");

    std::vector<Figures> ourRead, refRead, ourWrite, refWrite;
    for (int i = 0; i < runs; ++i) {
        ourRead.push_back(measure([] {
            char buf[64];
            win::GetPrivateProfileStringA("S", "k", "", buf, sizeof buf, ".\\VARlo.INI");
            if (std::string(buf) != "found") std::abort();
        }));
        refRead.push_back(measure([] {
            std::ifstream in("VARlo.INI", std::ios::binary);
            const std::string all((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
            if (std::count(all.begin(), all.end(), '\n') < 2) std::abort();
        }));
        ourWrite.push_back(measure([i] {
            win::WritePrivateProfileStringA("S", "k", i % 2 ? "found" : "other", ".\\VARlo.INI");
        }));
        refWrite.push_back(measure([] {
            std::ifstream in("VARlo.INI", std::ios::binary);
            const std::string all((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
            { std::ofstream("ref.tmp", std::ios::binary) << all; }
            std::FILE* f = std::fopen("ref.tmp", "rb+");
            ::fsync(fileno(f));
            std::fclose(f);
            std::filesystem::rename("ref.tmp", "ref.ini");
        }));
    }
    writeFile("VARlo.INI");
    const Figures r = median(ourRead), rr = median(refRead);
    const Figures w = median(ourWrite), rw = median(refWrite);
    std::printf("settings file of %zu MB of empty lines, median of %d runs (peak memory: "
                "largest growth)\n",
                kFileBytes >> 20, runs);
    std::printf("  read one key:   %.1f ms, +%.1f MB   reference read: %.1f ms, +%.1f MB\n",
                r.milliseconds, r.peakGrowthMb, rr.milliseconds, rr.peakGrowthMb);
    std::printf("  write one key:  %.1f ms, +%.1f MB   reference write: %.1f ms, +%.1f MB\n",
                w.milliseconds, w.peakGrowthMb, rw.milliseconds, rw.peakGrowthMb);
    std::printf("  read ratio: time %.2f, memory %.2f (goal: memory at most 2)\n",
                r.milliseconds / rr.milliseconds, r.peakGrowthMb / std::max(rr.peakGrowthMb, 0.1));
    std::printf("  write ratio: time %.2f, memory %.2f (goal: memory at most 2)\n",
                w.milliseconds / rw.milliseconds, w.peakGrowthMb / std::max(rw.peakGrowthMb, 0.1));
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    std::filesystem::remove_all(dir);
    return 0;
}
