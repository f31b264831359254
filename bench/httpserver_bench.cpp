// Serving pace of the HTTP server: at "Delay:" 1 (a pass every hundredth of a
// second) ten clients each fetch a 5 MB file at once. The ceiling is one chunk of
// 10,240 bytes per client per pass; the ratio is what the clients received per
// second against it.
#include "benchsockets.h"
#include "settings/settingsfile.h"
#include "tools/registertools.h"
#include "ui/console/consolefrontend.h"
#include "ui/console/consoleoutput.h"
#include "ui/desktop.h"
#include "ui/procedureregistry.h"
#include "ui/toolwindow.h"
#include "ui/windowmodel.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

int kClients = 10; // the first argument may ask for another number
constexpr std::size_t kFileSize = 5u << 20;

// A connection to the server. The server listens with a backlog of one, so the
// clients connect one after another before the clock starts: connecting all at
// once would leave some waiting a second for their connection to be retried.
int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in to = bench::loopback(port);
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 ? fd : -1;
}

// Fetches the file over the connection; the bytes received.
std::size_t fetch(int fd, const std::string& name) {
    if (fd < 0) return 0;
    const std::string request = "GET /" + name + " HTTP/1.0\r\n\r\n";
    ::send(fd, request.data(), request.size(), 0);
    std::size_t got = 0;
    char buf[65536];
    for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
        got += static_cast<std::size_t>(n);
    ::close(fd);
    return got;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1) kClients = std::max(1, std::atoi(argv[1]));
    const double kCeiling = kClients * 10240.0 * 100.0; // bytes a second at Delay 1
    QCoreApplication app(argc, argv);
    char dir[] = "/tmp/httpserver-bench-XXXXXX";
    if (!::mkdtemp(dir) || ::chdir(dir) != 0) return 1;
    const std::string www = std::string(dir) + "/www/";
    std::filesystem::create_directories(www);
    for (int i = 0; i < kClients; ++i)
        std::ofstream(www + "f" + std::to_string(i) + ".bin", std::ios::binary)
            << std::string(kFileSize, static_cast<char>('a' + i));
    WriteSetting("Http Settings", "WShttpPath", www, ".\\VARlo.ini");
    WriteSetting("Http Settings", "WShttpStr", "default.htm", ".\\VARlo.ini");
    WriteSetting("Http Settings", "WShttpDel", "1", ".\\VARlo.ini");

    std::FILE* sink = std::fopen("/dev/null", "w");
    ui::ConsoleOutput output(sink);
    ui::ConsoleFrontEnd console(output);
    ui::ProcedureRegistry registry;
    tools::registerTools(registry);
    ui::Desktop desktop(console, registry);
    const int port = bench::freePort(SOCK_STREAM);
    auto server = desktop.start("WS_http_s", {std::to_string(port)});
    const auto listening = [&] {
        for (const auto& row : server->model().rows(11))
            if (row.size() > 1 && row[1] == "waiting to accept().") return true;
        return false;
    };
    while (!listening())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    double best = 0;
    std::size_t total = 0;
    for (int round = 0; round < 2; ++round) {
        std::vector<std::size_t> got(static_cast<std::size_t>(kClients));
        std::vector<int> connections;
        for (int i = 0; i < kClients; ++i)
            connections.push_back(connectTo(port));
        std::vector<std::thread> clients;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kClients; ++i)
            clients.emplace_back([&, i] {
                const auto at = static_cast<std::size_t>(i);
                got[at] = fetch(connections[at], "f" + std::to_string(i) + ".bin");
            });
        for (auto& c : clients)
            c.join();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        total = 0;
        for (auto g : got)
            total += g;
        if (total != static_cast<std::size_t>(kClients) * kFileSize) {
            std::printf("httpserver: only %zu of %zu bytes received\n", total,
                        static_cast<std::size_t>(kClients) * kFileSize);
            return 1;
        }
        best = std::max(best, static_cast<double>(total) / seconds);
    }
    server->postClose();
    desktop.waitAllClosed(5000);
    std::fclose(sink);
    std::filesystem::remove_all(dir);
    std::printf("httpserver: %d clients x %zu MB at Delay 1\n", kClients, kFileSize >> 20);
    std::printf("  WS_http_s received:            %.0f bytes/s\n", best);
    std::printf("  ceiling (10,240 B/client/pass): %.0f bytes/s\n", kCeiling);
    std::printf("  ratio %.2f (goal: at least 0.9)\n", best / kCeiling);
    return 0;
}
