// The blockers under floods and hostile list files. Counts are bounded; every
// peer is on 127.0.0.1 and every trapped port was free when the test chose it.
// The full counts take about 20 s under the sanitizers; WS_LOAD_SCALE=N divides
// them for slower machines.
#include "blockerfixture.h"

#include <atomic>
#include <cmath>
#include <filesystem>
#include <random>
#include <set>
#include <sys/epoll.h>
#include <thread>

using namespace blocker_testing;

namespace {

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's quarantine holds freed memory back, so resident size says
// nothing about the blocker there.
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

int scaled(int count) {
    const char* env = std::getenv("WS_LOAD_SCALE");
    const int scale = env && std::atoi(env) > 0 ? std::atoi(env) : 1;
    return std::max(1, count / scale);
}

long residentKb() {
    std::ifstream in("/proc/self/status");
    std::string key;
    long value = 0;
    while (in >> key) {
        if (key == "VmRSS:") {
            in >> value;
            return value;
        }
        in.ignore(1 << 20, '\n');
    }
    return -1;
}

std::size_t openDescriptors() {
    std::size_t n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

std::vector<int> distinctFreePorts(int type, std::size_t count) {
    std::set<int> ports;
    while (ports.size() < count)
        ports.insert(freePort(type));
    return {ports.begin(), ports.end()};
}

std::string listOf(const std::vector<int>& ports) {
    std::string file;
    for (std::size_t i = 0; i < ports.size(); ++i)
        file += std::to_string(ports[i]) + ", trap " + std::to_string(i + 1) + "\r\n";
    return file;
}

// The number after "Hit:" in a caption, 0 when there is none.
long hitsIn(const std::string& caption) {
    const auto at = caption.rfind("Hit:");
    return at == std::string::npos ? 0 : std::atol(caption.c_str() + at + 4);
}

// A blocker whose output goes nowhere and is kept nowhere, so that the memory
// measured is the blocker's own.
struct LoadFixture : ::testing::Test {
    ScratchDir dir;
    std::FILE* sink = std::fopen("/dev/null", "w");
    ui::ConsoleOutput output{sink};
    ui::ConsoleFrontEnd frontEnd{output};
    ui::ProcedureRegistry registry;
    std::unique_ptr<ui::Desktop> desktop;
    std::shared_ptr<ui::ToolWindow> window;

    LoadFixture() {
        testing_support::ensureQtApplication();
        shell::Sound = 0;
        tools::registerTools(registry);
        desktop = std::make_unique<ui::Desktop>(frontEnd, registry);
    }
    ~LoadFixture() override {
        desktop->closeAll();
        desktop.reset();
        std::fclose(sink);
    }

    void open(const std::string& procedure) {
        window = desktop->start(procedure);
        ASSERT_TRUE(window);
        window->invoke([] {}).get();
    }
    void close() {
        window->postClose();
        ASSERT_TRUE(desktop->waitAllClosed(10000));
    }
    std::size_t validSockets() {
        std::size_t n = 0;
        auto w = window;
        window
            ->invoke([&] {
                for (auto s : static_cast<tools::PortBlocker&>(*w).socketTable())
                    n += s != win::INVALID_SOCKET;
            })
            .get();
        return n;
    }
};

// Makes `total` connections to 127.0.0.1, `inFlight` at a time, spread over the
// ports in turn; each one counts when the peer has closed it. Returns how many
// were closed by the peer before the deadline.
int flood(const std::vector<int>& ports, int total, int inFlight, std::chrono::seconds limit,
          const std::function<void(int)>& progress) {
    const int ep = ::epoll_create1(EPOLL_CLOEXEC);
    int started = 0, closedByPeer = 0, failed = 0;
    auto startOne = [&] {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const sockaddr_in to = loopback(ports[static_cast<std::size_t>(started) % ports.size()]);
        ++started;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 &&
            errno != EINPROGRESS) {
            ::close(fd);
            ++failed;
            return;
        }
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP;
        ev.data.fd = fd;
        ::epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
    };
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int active = 0;
    while ((started < total || active > 0) && std::chrono::steady_clock::now() < deadline) {
        while (active < inFlight && started < total) {
            const int before = failed;
            startOne();
            if (failed == before) ++active;
        }
        epoll_event events[256];
        const int n = ::epoll_wait(ep, events, 256, 100);
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            char c;
            const ssize_t got = ::recv(fd, &c, 1, 0);
            if (got > 0 || (got < 0 && errno == EAGAIN)) continue;
            if (got == 0)
                ++closedByPeer;
            else
                ++failed;
            ::epoll_ctl(ep, EPOLL_CTL_DEL, fd, nullptr);
            ::close(fd);
            --active;
            if (progress) progress(closedByPeer);
        }
    }
    ::close(ep);
    EXPECT_EQ(failed, 0);
    return closedByPeer;
}

TEST_F(LoadFixture, TcpFloodIsCountedInFullWhileTheWindowAnswersAndMemoryStaysFlat) {
    const int total = scaled(20000);
    const auto ports = distinctFreePorts(SOCK_STREAM, 100);
    ScratchDir::write("Varlo.tcp", listOf(ports));
    open("WS_TcpB");
    ASSERT_EQ(validSockets(), 100u);

    // A person's click must get through while the flood runs.
    std::atomic<bool> flooding{true};
    std::atomic<long> slowestMs{0};
    std::atomic<std::size_t> mostRows{0};
    std::thread prober([&] {
        while (flooding) {
            const auto t0 = std::chrono::steady_clock::now();
            // The rows are counted on the window's thread, between two handlers: a
            // handler that appends the 250th row empties the list before it returns.
            std::size_t rows = 0;
            window->invoke([&] { rows = window->model().rowCount(1); }).get();
            const long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - t0)
                                .count();
            slowestMs = std::max(slowestMs.load(), ms);
            mostRows = std::max(mostRows.load(), rows);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    long rssQuarter = 0;
    const auto t0 = std::chrono::steady_clock::now();
    const int closed = flood(ports, total, 200, std::chrono::seconds(55), [&](int done) {
        if (done == total / 4) rssQuarter = residentKb();
    });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const long rssEnd = residentKb();
    flooding = false;
    prober.join();

    EXPECT_EQ(closed, total);
    window->invoke([] {}).get();
    EXPECT_EQ(hitsIn(window->model().caption()), total);
    EXPECT_LT(slowestMs.load(), 2000);
    EXPECT_LT(mostRows.load(), 250u);
    if (!kSanitized) {
        EXPECT_LT(rssEnd - rssQuarter, 16 * 1024) << rssQuarter << " -> " << rssEnd;
    }
    std::printf("tcp flood: %d connections to 100 ports, 200 at a time: %.2f s (%.0f/s), "
                "slowest click %ld ms, log rows at most %zu, RSS %ld -> %ld kB\n",
                total, seconds, closed / seconds, slowestMs.load(), mostRows.load(), rssQuarter,
                rssEnd);
    close();
}

TEST_F(LoadFixture, UdpSteadyStreamEveryDatagramThatReachedASocketIsCounted) {
    const int total = scaled(50000);
    const int perSecond = 5000;
    const auto ports = distinctFreePorts(SOCK_DGRAM, 4);
    ScratchDir::write("Varlo.udp", listOf(ports));
    open("WS_UdpB");
    ASSERT_EQ(validSockets(), 4u);

    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const auto start = std::chrono::steady_clock::now();
    int sent = 0;
    while (sent < total) {
        // Paced by the clock: by time t, t * rate datagrams have gone.
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const int due = std::min(total, static_cast<int>(elapsed * perSecond) + 1);
        for (; sent < due; ++sent) {
            const sockaddr_in to = loopback(ports[static_cast<std::size_t>(sent) % ports.size()]);
            const std::string data = "probe " + std::to_string(sent);
            ::sendto(fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                     sizeof to);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    ::close(fd);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    auto kernel = [&] {
        long queued = 0, drops = 0;
        for (int port : ports) {
            const UdpQueue q = udpQueue(port);
            queued += q.queued;
            drops += q.drops;
        }
        return std::pair{queued, drops};
    };
    ASSERT_TRUE(waitUntil([&] { return kernel().first == 0; }, 30000));
    window->invoke([] {}).get();
    const long drops = kernel().second;
    EXPECT_EQ(hitsIn(window->model().caption()), total - drops);
    std::printf(
        "udp stream: %d datagrams to 4 ports in %.2f s (%.0f/s), dropped by the kernel: %ld, "
        "counted: %ld\n",
        total, seconds, total / seconds, drops, hitsIn(window->model().caption()));
    close();
}

// Hostile list files: the loader and the set-up loop must neither crash nor make
// more than 100 sockets.
TEST_F(LoadFixture, HostileListFilesNeverGiveMoreThan100Sockets) {
    std::mt19937 random(77);
    auto bytes = [&](std::size_t n, const std::string& alphabet) {
        std::string s(n, '\0');
        for (auto& c : s)
            c = alphabet.empty() ? char(random()) : alphabet[random() % alphabet.size()];
        return s;
    };
    std::string tenThousand;
    for (int i = 0; i < 10000; ++i)
        tenThousand += "x, record " + std::to_string(i) + "\r\n";
    const struct {
        const char* name;
        std::string content;
    } files[] = {
        {"random bytes", bytes(20000, "")},
        {"random lines", bytes(20000, std::string("\r\n ,ab:;\t\x8a\xff", 12))},
        {"zero bytes", std::string(5000, '\0') + "1, after zeros\r\n"},
        {"zeros between records", std::string("x, a\r\n\0\0x, b\r\n", 14)},
        {"one megabyte", bytes(1 << 20, std::string("x, \r\n", 5))},
        {"10,000 records", tenThousand},
    };
    const std::size_t before = openDescriptors();
    for (const char* procedure : {"WS_TcpB", "WS_UdpB"}) {
        for (const auto& f : files) {
            ScratchDir::write(procedure == std::string("WS_TcpB") ? "Varlo.tcp" : "Varlo.udp",
                              f.content);
            open(procedure);
            EXPECT_LE(validSockets(), 100u) << procedure << " " << f.name;
            // Each of the 100 records is one port on both families: two sockets.
            EXPECT_LE(openDescriptors(), before + 2 * 100 + 8) << procedure << " " << f.name;
            close();
        }
    }
    EXPECT_LE(openDescriptors(), before + 8);
}

} // namespace
