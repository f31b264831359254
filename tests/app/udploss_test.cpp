// The UDP server under a steady stream, as a user runs it: the program built as
// ./run builds it, headless, its output going to a file. 50,000 datagrams at
// 50,000 a second may lose at most 0.5%, and every datagram received has its line.
#include "app/program.h"
#include "platform/scratchdir.h"
#include "support/loopbackports.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using testing_support::freePort;
using testing_support::loopback;
using Clock = std::chrono::steady_clock;

constexpr int kDatagrams = 50000;
constexpr int kPerSecond = 50000;

std::vector<std::string> fileLines(const std::string& name) {
    std::ifstream in(name);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

TEST(UdpServerLoad, FiftyThousandDatagramsAtFiftyThousandASecondAreLoggedEach) {
    ScratchDir dir;
    const int port = freePort(SOCK_DGRAM);
    Program program({"--headless", "--open", "WS_Udp," + std::to_string(port)}, {},
                    {"sh", "-c", "exec \"$0\" \"$@\" > out.txt"}, {}, Program::Setup::optimised());
    const auto ready = [] {
        for (const auto& l : fileLines("out.txt"))
            if (l.find("\twaiting to accept()...") != std::string::npos) return true;
        return false;
    };
    const auto started = Clock::now();
    while (!ready()) {
        ASSERT_LT(Clock::now() - started, std::chrono::seconds(30)) << "the server never started";
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    // Fifty datagrams each millisecond, on time.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = loopback(port);
    const auto begin = Clock::now();
    for (int i = 0; i < kDatagrams; ++i) {
        if (i % (kPerSecond / 1000) == 0)
            std::this_thread::sleep_until(begin +
                                          std::chrono::microseconds(i * 1000000LL / kPerSecond));
        const std::string payload = "datagram " + std::to_string(i);
        ::sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    ::close(fd);

    // Lines until the count stops growing.
    std::set<int> seen;
    std::size_t lines = 0;
    for (std::size_t last = ~std::size_t(0); lines != last;) {
        last = lines;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        seen.clear();
        lines = 0;
        for (const auto& l : fileLines("out.txt")) {
            const auto at = l.find(" datagram ");
            if (at == std::string::npos || l.find("\t127.0.0.1:") == std::string::npos) continue;
            ++lines;
            seen.insert(std::stoi(l.substr(at + 10)));
        }
    }
    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(), 0);
    std::printf("[ load ] %d datagrams sent in %.2f s, %zu logged\n", kDatagrams, seconds, lines);
    EXPECT_EQ(seen.size(), lines) << "a datagram logged twice";
    EXPECT_GE(lines, std::size_t(kDatagrams - kDatagrams / 200)) << "more than 0.5% lost";
    // The server's own count, in its caption, is of the datagrams it read.
    const auto all = fileLines("out.txt");
    std::string caption;
    for (const auto& l : all)
        if (l.rfind("WS_Udp#1 caption ", 0) == 0) caption = l;
    EXPECT_NE(caption.find("(Hit:" + std::to_string(lines) + ")"), std::string::npos) << caption;
}
