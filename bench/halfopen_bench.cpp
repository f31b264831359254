// What watching for half-open scans costs, per packet. Runs in a network namespace
// of its own (root only), so that its floods reach nothing else:
//  1. the kernel's cost per TCP segment that is no SYN to a trapped port (what all
//     other traffic pays): the segment's send and receive on loopback with no tap,
//     with the TCP blocker's raw socket and filter, and with a packet socket and the
//     same filter (the other way to see SYNs), in the sending thread's CPU time;
//     and the same for UDP, which a packet socket sees as well;
//  2. the blocker's own CPU time (the built program, headless) per SYN of a flood of
//     forged half-open probes, each one a hit with its log line, and per connection
//     of a connect flood, with the watch and without it (raw socket right dropped).
#include "benchstats.h"
#include "platform/tcpsyn.h"
#include "platform/tcpsynwatcher.h"
#include "platform/winsock.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/capability.h>
#include <linux/if_ether.h>
#include <mutex>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <string>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using bench::median;

namespace fs = std::filesystem;

constexpr int kFirstTrap = 20001;
constexpr int kTraps = 100;
constexpr int kFloodPort = 20050;

std::uint16_t checksum(const std::uint8_t* d, std::size_t n, std::uint32_t sum = 0) {
    for (std::size_t i = 0; i + 1 < n; i += 2)
        sum += static_cast<std::uint32_t>((d[i] << 8) | d[i + 1]);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

// A 40-byte IPv4 TCP segment with its checksums.
std::vector<std::uint8_t> segment(std::uint32_t from, std::uint16_t fromPort, std::uint16_t toPort,
                                  std::uint8_t flags) {
    std::vector<std::uint8_t> p(40, 0);
    p[0] = 0x45;
    p[3] = 40;
    p[8] = 64;
    p[9] = IPPROTO_TCP;
    std::memcpy(&p[12], &from, 4);
    const std::uint32_t to = htonl(INADDR_LOOPBACK);
    std::memcpy(&p[16], &to, 4);
    std::uint8_t* t = &p[20];
    t[0] = std::uint8_t(fromPort >> 8), t[1] = std::uint8_t(fromPort);
    t[2] = std::uint8_t(toPort >> 8), t[3] = std::uint8_t(toPort);
    t[7] = 1;
    t[12] = 5 << 4;
    t[13] = flags;
    t[14] = t[15] = 0xff;
    std::uint8_t pseudo[32];
    std::memcpy(pseudo, &p[12], 8);
    pseudo[8] = 0, pseudo[9] = IPPROTO_TCP, pseudo[10] = 0, pseudo[11] = 20;
    std::memcpy(pseudo + 12, t, 20);
    const std::uint16_t sum = checksum(pseudo, sizeof pseudo);
    t[16] = std::uint8_t(sum >> 8), t[17] = std::uint8_t(sum);
    return p;
}

double threadCpuNs() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e9 + t.tv_nsec;
}

std::vector<std::uint16_t> trapPorts() {
    std::vector<std::uint16_t> ports;
    for (int i = 0; i < kTraps; ++i)
        ports.push_back(static_cast<std::uint16_t>(kFirstTrap + i));
    return ports;
}

// --- 1. the kernel, per segment ----------------------------------------------------------

enum class Tap { None, RawSocket, PacketSocket };

// A UDP datagram with a wrong checksum: UDP drops it quietly, after the taps saw it.
std::vector<std::uint8_t> badDatagram() {
    std::vector<std::uint8_t> p(28, 0);
    p[0] = 0x45;
    p[3] = 28;
    p[8] = 64;
    p[9] = IPPROTO_UDP;
    const std::uint32_t loop = htonl(INADDR_LOOPBACK);
    std::memcpy(&p[12], &loop, 4);
    std::memcpy(&p[16], &loop, 4);
    p[21] = 99, p[23] = 99, p[25] = 8, p[27] = 1;
    return p;
}

// CPU ns per packet of `count` resets to a closed port (TCP drops them quietly), or
// of broken UDP datagrams.
double perSegment(Tap tap, int count, bool udp = false) {
    win::TcpSynWatcher watcher;
    int packet = -1;
    if (tap == Tap::RawSocket) {
        watcher.open();
        watcher.watch(trapPorts());
    } else if (tap == Tap::PacketSocket) {
        packet = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_IP));
        std::vector<sock_filter> code = win::synFilter(trapPorts());
        const sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
        ::setsockopt(packet, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program);
    }
    const int s = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    const auto reset = udp ? badDatagram() : segment(htonl(INADDR_LOOPBACK), 12345, 30000, 0x04);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const double t0 = threadCpuNs();
    for (int i = 0; i < count; ++i)
        ::sendto(s, reset.data(), reset.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    const double ns = (threadCpuNs() - t0) / count;
    ::close(s);
    if (packet >= 0) ::close(packet);
    return ns;
}

// --- 2. the blocker ---------------------------------------------------------------------

// The program's output is read all the time on a thread of its own: a pipe left
// full would stop the program in the middle of what is measured.
struct Blocker {
    pid_t pid = -1;
    int out = -1;
    std::mutex mutex;
    std::condition_variable grown;
    std::string tail; // the last part of the output, enough to find the latest caption
    bool ended = false;
    std::thread reader;

    void startReading() {
        reader = std::thread([this] {
            char buf[65536];
            for (ssize_t n; (n = ::read(out, buf, sizeof buf)) > 0;) {
                std::lock_guard lock(mutex);
                tail.append(buf, static_cast<std::size_t>(n));
                if (tail.size() > (1 << 16)) tail.erase(0, tail.size() - 4096);
                grown.notify_all();
            }
            std::lock_guard lock(mutex);
            ended = true;
            grown.notify_all();
        });
    }
    bool readUntil(const std::string& text, int ms) {
        std::unique_lock lock(mutex);
        return grown.wait_for(lock, std::chrono::milliseconds(ms), [&] {
            return ended || tail.find(text) != std::string::npos;
        }) && tail.find(text) != std::string::npos;
    }
    // The CPU time of all the program's threads so far, in ns.
    double cpuNs() const {
        double total = 0;
        for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
            std::ifstream in(task.path() / "schedstat");
            double ran = 0;
            if (in >> ran) total += ran;
        }
        return total;
    }
    ~Blocker() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (reader.joinable()) reader.join();
        if (out >= 0) ::close(out);
    }
};

void dropRawRight() {
    ::prctl(PR_CAPBSET_DROP, CAP_NET_RAW, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    ::syscall(SYS_capget, &header, data);
    data[0].effective &= ~(1u << CAP_NET_RAW);
    data[0].permitted &= ~(1u << CAP_NET_RAW);
    ::syscall(SYS_capset, &header, data);
}

bool start(Blocker& b, const std::string& program, bool watch) {
    int out[2], in[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0) return false;
    b.pid = ::fork();
    if (b.pid == 0) {
        if (!watch) dropRawRight();
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::execl(program.c_str(), program.c_str(), "--headless", "--script", "-", nullptr);
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(in[0]);
    b.out = out[0];
    b.startReading();
    const std::string script = "open WS_TcpB\ndump WS_TcpB\n";
    if (::write(in[1], script.data(), script.size()) < 0) return false;
    ::close(in[1]);
    return b.readUntil("WS_TcpB#1 dump caption", 20000);
}

// Forged SYNs from senders without a route here, so nothing answers: `count` probes,
// paced so that the raw socket's queue never overflows while the window logs.
void synFlood(int count) {
    const int s = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        const std::uint32_t from = htonl(0xc6120000u | static_cast<std::uint32_t>(i >> 14));
        const auto syn =
            segment(from, static_cast<std::uint16_t>(1024 + (i & 0x3fff)), kFloodPort, 0x02);
        ::sendto(s, syn.data(), syn.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        if (i % 100 == 99)
            std::this_thread::sleep_until(start + std::chrono::microseconds(i * 100));
    }
    ::close(s);
}

// `count` connections to the trapped ports, 32 at a time, each until the trap closed it.
void connectFlood(int count) {
    const int ep = ::epoll_create1(EPOLL_CLOEXEC);
    int started = 0, done = 0, active = 0;
    while (done < count) {
        for (; active < 32 && started < count; ++started, ++active) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            to.sin_port = htons(static_cast<std::uint16_t>(kFirstTrap + started % kTraps));
            ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
            epoll_event ev{EPOLLIN | EPOLLRDHUP, {}};
            ev.data.fd = fd;
            ::epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
        }
        epoll_event events[64];
        const int n = ::epoll_wait(ep, events, 64, 1000);
        if (n <= 0) break;
        for (int i = 0; i < n; ++i) {
            char c;
            if (::recv(events[i].data.fd, &c, 1, 0) > 0) continue;
            ::close(events[i].data.fd);
            --active;
            ++done;
        }
    }
    ::close(ep);
}

// The blocker's CPU ns per packet of `flood`; 0 when it did not count them all.
double blockerPerPacket(const std::string& program, bool watch, bool halfOpen, int count) {
    Blocker b;
    if (!start(b, program, watch)) return 0;
    const double before = b.cpuNs();
    if (halfOpen) {
        synFlood(count);
        if (watch && !b.readUntil(") Hit:" + std::to_string(count) + "\n", 60000)) return 0;
        // Without the watch nothing is counted: the same second of quiet as the
        // probes' grace, for the same idle ticks.
        if (!watch) b.readUntil("never printed", 1100);
    } else {
        connectFlood(count);
        if (!b.readUntil(") Hit:" + std::to_string(count) + "\n", 60000)) return 0;
    }
    return (b.cpuNs() - before) / count;
}

} // namespace

int main(int argc, char** argv) {
    const int probes = argc > 1 ? std::atoi(argv[1]) : 10000;
    if (::geteuid() != 0) {
        std::puts("halfopen_bench: needs root (raw sockets, a network namespace of its own)");
        return 0;
    }
    if (::unshare(CLONE_NEWNET) != 0 || std::system("ip link set lo up") != 0) {
        std::puts("halfopen_bench: no network namespace of its own");
        return 0;
    }
    const fs::path program =
        fs::canonical("/proc/self/exe").parent_path().parent_path() / "wstoolbox";
    const fs::path dir =
        fs::temp_directory_path() / ("ws-halfopen-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::current_path(dir);
    {
        std::ofstream list("Varlo.tcp", std::ios::binary);
        for (int i = 0; i < kTraps; ++i)
            list << kFirstTrap + i << ", trap\r\n";
    }
    win::WSADATA data;
    win::WSAStartup(0x0101, &data);

    std::vector<double> none, raw, packet, udpNone, udpRaw, udpPacket;
    for (int round = 0; round < 15; ++round) {
        none.push_back(perSegment(Tap::None, 20000));
        raw.push_back(perSegment(Tap::RawSocket, 20000));
        packet.push_back(perSegment(Tap::PacketSocket, 20000));
        udpNone.push_back(perSegment(Tap::None, 20000, true));
        udpRaw.push_back(perSegment(Tap::RawSocket, 20000, true));
        udpPacket.push_back(perSegment(Tap::PacketSocket, 20000, true));
    }
    std::printf(
        "half-open watch: kernel CPU per TCP segment that is no SYN to a trapped port\n"
        "(send and receive on loopback, median of 15 rounds of 20000; 100 trapped ports)\n");
    std::printf("  no tap:                        %6.0f ns\n", median(none));
    std::printf("  raw TCP socket + filter (ours): %6.0f ns  (+%.0f ns, ratio %.2f)\n", median(raw),
                median(raw) - median(none), median(raw) / median(none));
    std::printf("  packet socket + filter:        %6.0f ns  (+%.0f ns, ratio %.2f)\n",
                median(packet), median(packet) - median(none), median(packet) / median(none));

    std::printf("  the same for a UDP datagram: no tap %.0f ns, raw TCP socket %+.0f ns, "
                "packet socket %+.0f ns\n",
                median(udpNone), median(udpRaw) - median(udpNone),
                median(udpPacket) - median(udpNone));

    const double probeOn = blockerPerPacket(program, true, true, probes);
    const double probeOff = blockerPerPacket(program, false, true, probes);
    const double connOn = blockerPerPacket(program, true, false, probes);
    const double connOff = blockerPerPacket(program, false, false, probes);
    std::printf("blocker CPU (all its threads), %d packets each:\n", probes);
    std::printf("  per forged half-open SYN, told as a hit with its line: %7.1f us "
                "(without the watch, unseen: %.1f us)\n",
                probeOn / 1000, probeOff / 1000);
    std::printf("  per trapped connection, with the watch: %7.1f us, without: %7.1f us, "
                "ratio %.2f\n",
                connOn / 1000, connOff / 1000, connOff > 0 ? connOn / connOff : 0);
    std::printf("  half-open probe against a trapped connection (both one hit): ratio %.2f\n",
                connOn > 0 ? probeOn / connOn : 0);
    win::WSACleanup();
    fs::current_path("/");
    fs::remove_all(dir);
    return 0;
}
