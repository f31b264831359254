// The servers when the process runs out of descriptors: the program, built as ./run
// builds it, runs with a low descriptor limit (prlimit) and peers keep connecting.
// Nothing may spin, flood the log or keep a peer waiting, and the trap still logs
// its probes.
#include "app/program.h"
#include "platform/scratchdir.h"
#include "support/loopbackports.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using testing_support::freePort;
using testing_support::loopback;

bool waitUntil(const std::function<bool()>& condition, int milliseconds = 10000) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        ::usleep(5000);
    }
    return true;
}

constexpr const char* kLimit = "--nofile=64";

// The processor time the process has used, in seconds.
double cpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(all.substr(all.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i == 14 || i == 15) ticks += std::stol(field);
    return double(ticks) / double(::sysconf(_SC_CLK_TCK));
}

int openDescriptors(pid_t pid) {
    int n = 0;
    if (DIR* d = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        while (const dirent* e = ::readdir(d))
            n += e->d_name[0] != '.';
        ::closedir(d);
    }
    return n;
}

// A client connected to the port, or -1; it waits at most a second for the answer.
int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval tv{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    const sockaddr_in to = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// True when the server ends the connection within the client's second.
bool closedByServer(int fd) {
    char c;
    return ::recv(fd, &c, 1, 0) == 0;
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Peers keep coming while descriptors are out: the program answers each at once and
// then rests; one second of quiet must cost it far less than a second of processor.
void expectAtRest(Program& program) {
    const double before = cpuSeconds(program.pid());
    ::usleep(1000 * 1000);
    EXPECT_LT(cpuSeconds(program.pid()) - before, 0.3) << "the program spins";
}

} // namespace

// The TCP server holds its peers' connections until descriptors run out; then each
// further peer is turned away at once, the error is logged once, and when the
// held peers leave the server accepts as before, its descriptors back where they
// were.
TEST(DescriptorsOut, TcpServerTurnsPeersAwayLogsItOnceAndRecovers) {
    ScratchDir dir;
    const int port = freePort(SOCK_STREAM);
    Program program({"--headless", "--open", "WS_Tcp," + std::to_string(port)}, {},
                    {"prlimit", kLimit}, {}, Program::Setup::optimised());
    ASSERT_TRUE(program.waitForOutput("waiting to accept()...", 20000)) << program.output();
    ASSERT_TRUE(waitUntil([&] { return openDescriptors(program.pid()) > 0; }));
    ::usleep(200 * 1000);
    const int descriptors = openDescriptors(program.pid());
    std::vector<int> held;
    while (program.output().find("WSAEMFILE") == std::string::npos && held.size() < 80) {
        const int fd = connectTo(port);
        if (fd >= 0) held.push_back(fd);
        program.readFor(20);
    }
    ASSERT_TRUE(program.waitForOutput("WSAEMFILE")) << "descriptors never ran out";
    int turnedAway = 0;
    for (int i = 0; i < 100; ++i) {
        const int fd = connectTo(port);
        turnedAway += fd >= 0 && closedByServer(fd);
        if (fd >= 0) ::close(fd);
    }
    EXPECT_EQ(turnedAway, 100);
    expectAtRest(program);
    program.readFor(100);
    EXPECT_EQ(count(program.output(), "WSAEMFILE"), 1u);
    EXPECT_LT(count(program.output(), "\n"), 300u) << "the log floods";

    // Every connection it accepted is closed when its peer leaves.
    const std::size_t accepted = count(program.output(), " accept #");
    for (int fd : held)
        ::close(fd);
    const std::string closing = "closing client socket...";
    EXPECT_TRUE(waitUntil(
        [&] {
            program.readFor(20);
            return count(program.output(), closing) == accepted;
        },
        20000))
        << count(program.output(), closing) << " of " << accepted;
    const int again = connectTo(port);
    ASSERT_GE(again, 0);
    EXPECT_TRUE(program.waitForOutput(":" + std::to_string([&] {
                                          sockaddr_in a{};
                                          socklen_t len = sizeof a;
                                          ::getsockname(again, reinterpret_cast<sockaddr*>(&a),
                                                        &len);
                                          return ntohs(a.sin_port);
                                      }()) +
                                      " accept #"))
        << program.output();
    ::close(again);
    EXPECT_TRUE(waitUntil([&] { return openDescriptors(program.pid()) <= descriptors; }))
        << openDescriptors(program.pid()) << " open, " << descriptors << " at the start";
    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(), 0);
}

// A trap whose set-up took every descriptor: each probe is still counted and logged
// with its port and peer, the error once, and the trap rests between probes.
TEST(DescriptorsOut, TcpTrapStillLogsEveryProbeWithItsPortAndPeer) {
    ScratchDir dir;
    std::set<int> ports;
    while (ports.size() < 100)
        ports.insert(freePort(SOCK_STREAM));
    std::string list;
    for (int p : ports)
        list += std::to_string(p) + ", trap\r\n";
    ScratchDir::write("Varlo.tcp", list);
    constexpr int kProbes = 50;
    // The trap opens once the other windows have (a thread that starts while no
    // descriptor is left cannot make its event loop), and closes, giving its
    // descriptors back, before the program ends.
    const std::string last = std::to_string(*ports.rbegin());
    Program program({"--headless", "--script", "-"},
                    "waitfor DNSx open 30\nwaitfor Unos_porta open 30\nopen WS_TcpB\n"
                    "waitfor WS_TcpB \"TCP port: " +
                        last +
                        " trap\" 60\n"
                        "waitfor WS_TcpB Hit:" +
                        std::to_string(kProbes) +
                        " 120\n"
                        "close WS_TcpB\nquit\n",
                    {"prlimit", kLimit}, {}, Program::Setup::optimised());
    const int first = *ports.begin();
    ASSERT_TRUE(program.waitForOutput("\tTCP port: " + last + " trap\n", 60000))
        << program.output();
    ASSERT_TRUE(program.waitForOutput("WSAEMFILE")) << "the set-up did not run out";
    for (int i = 0; i < kProbes; ++i) {
        const int fd = connectTo(first);
        ASSERT_GE(fd, 0);
        sockaddr_in own{};
        socklen_t len = sizeof own;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&own), &len);
        EXPECT_TRUE(closedByServer(fd)) << i;
        ::close(fd);
        EXPECT_TRUE(program.waitForOutput("\t" + std::to_string(first) + " trap - 127.0.0.1:" +
                                          std::to_string(ntohs(own.sin_port)) + " not accepted\n"))
            << i;
        if (i == 0) expectAtRest(program);
    }
    EXPECT_TRUE(program.waitForOutput(") Hit:" + std::to_string(kProbes) + "\n"));
    ASSERT_EQ(program.wait(30000), 0) << program.output();
    // The probes' error once, after the set-up's banner (the half-open watch's
    // line after it names the error too, but not alone on its line).
    const std::string out = program.output();
    const auto banner = out.find(" ports set up from ");
    ASSERT_NE(banner, std::string::npos) << out;
    EXPECT_EQ(count(out.substr(banner), "\tWSAEMFILE\n"), 1u) << out;
    EXPECT_EQ(count(program.output(), "timeout"), 0u);
}
