// Datagrams logged per second: the UDP server window (WSAAsyncSelect, its event
// loop, one log line and a caption per datagram, the headless console renderer)
// against a bare blocking recvfrom loop on one thread. The same sender feeds both,
// keeping at most kInFlight datagrams unhandled so that neither loses any.
// Then the same server headless with --json against its text lines. Each pair
// alternates over several rounds: the median ratio and its spread.
#include "benchsockets.h"
#include "tools/registertools.h"
#include "ui/console/consolefrontend.h"
#include "ui/console/consoleoutput.h"
#include "ui/desktop.h"
#include "ui/procedureregistry.h"
#include "ui/toolwindow.h"
#include "ui/windowmodel.h"

#include <QCoreApplication>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr long kInFlight = 64;
constexpr int kRounds = 9;

using bench::loopback;

// Sends `count` datagrams to the port, never more than kInFlight ahead of
// `handled`; the rate at which they were handled. The sender sleeps while it may
// not send: spinning would take a core from the receiver it measures.
double feed(int port, long count, std::atomic<long>& handled) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = loopback(port);
    const std::string payload = "benchmark datagram of a typical test line";
    const auto start = std::chrono::steady_clock::now();
    for (long sent = 0; sent < count; ++sent) {
        for (long now = handled.load(); sent - now >= kInFlight; now = handled.load())
            handled.wait(now);
        ::sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    }
    for (long now = handled.load(); now < count; now = handled.load())
        handled.wait(now);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::close(fd);
    return count / seconds;
}

double bareLoop(long count) {
    const int port = bench::freePort(SOCK_DGRAM);
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in at = loopback(port);
    ::bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at);
    std::atomic<long> received{0};
    std::thread reader([&] {
        char buf[1025];
        sockaddr_in from{};
        while (received < count) {
            socklen_t len = sizeof from;
            if (::recvfrom(fd, buf, 1024, 0, reinterpret_cast<sockaddr*>(&from), &len) >= 0) {
                ++received;
                received.notify_one();
            }
        }
    });
    const double rate = feed(port, count, received);
    reader.join();
    ::close(fd);
    return rate;
}

// Counts the data lines the server appends (also those its 250-line rule removes).
class LineCounter : public ui::ModelObserver {
public:
    void modelChanged(const ui::Change& c) override {
        if (c.kind == ui::Change::Kind::RowAppended && c.row.size() > 1 &&
            c.row[1].rfind("127.0.0.1:", 0) == 0) {
            ++lines;
            lines.notify_one();
        }
    }
    std::atomic<long> lines{0};
};

double udpServer(ui::Desktop& desktop, long count) {
    const int port = bench::freePort(SOCK_DGRAM);
    auto window = desktop.start("WS_Udp", {std::to_string(port)});
    // Ready once its start-up is done.
    const auto ready = [&] {
        for (const auto& row : window->model().rows(1))
            if (row.size() > 1 && row[1] == "waiting to accept()...") return true;
        return false;
    };
    while (!ready())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    window->invoke([] {}).get();
    LineCounter counter;
    window->model().addObserver(&counter);
    const double rate = feed(port, count, counter.lines);
    window->model().removeObserver(&counter);
    window->postClose();
    desktop.waitAllClosed(5000);
    return rate;
}

// The median of the rounds' ratios, with the lowest and the highest.
void printRatio(std::vector<double> ratios, const char* goal) {
    std::sort(ratios.begin(), ratios.end());
    std::printf("  ratio median %.2f, spread %.2f to %.2f (goal: at least %s)\n",
                ratios[ratios.size() / 2], ratios.front(), ratios.back(), goal);
}

} // namespace

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::atol(argv[1]) : 100000;
    QCoreApplication app(argc, argv);
    // The server's placement and settings land in a scratch directory.
    char dir[] = "/tmp/udpserver-bench-XXXXXX";
    if (!::mkdtemp(dir) || ::chdir(dir) != 0) return 1;

    std::FILE* sink = std::fopen("/dev/null", "w");
    ui::ConsoleOutput output(sink);
    ui::ConsoleFrontEnd console(output);
    ui::ProcedureRegistry registry;
    tools::registerTools(registry);
    ui::Desktop desktop(console, registry);

    std::vector<double> ratios;
    double ours = 0, bare = 0;
    for (int round = 0; round < kRounds; ++round) {
        const double b = bareLoop(count);
        const double o = udpServer(desktop, count);
        ratios.push_back(o / b);
        bare += b / kRounds;
        ours += o / kRounds;
    }
    std::printf("udpserver: %d rounds of %ld datagrams, at most %ld in flight, alternating\n",
                kRounds, count, kInFlight);
    std::printf("  WS_Udp (headless, logged):  %.0f datagrams/s (mean)\n", ours);
    std::printf("  bare recvfrom loop:         %.0f datagrams/s (mean)\n", bare);
    printRatio(ratios, "0.5");

    // Every event as a JSON object (--json) against the text line, with the
    // time stamp and UTF-8 conversion it adds.
    ratios.clear();
    double textRate = 0, jsonRate = 0;
    for (int round = 0; round < kRounds; ++round) {
        output.setJson(false);
        const double text = udpServer(desktop, count);
        output.setJson(true);
        const double json = udpServer(desktop, count);
        ratios.push_back(json / text);
        textRate += text / kRounds;
        jsonRate += json / kRounds;
    }
    std::printf("udpserver --json: %d rounds of %ld datagrams, alternating\n", kRounds, count);
    std::printf("  text lines:   %.0f datagrams/s (mean)\n", textRate);
    std::printf("  JSON objects: %.0f datagrams/s (mean)\n", jsonRate);
    printRatio(ratios, "0.9");
    // The JSON writer may still hold the last window's closing lines.
    output.flush();
    std::fclose(sink);
    std::filesystem::remove_all(dir);
    return 0;
}
