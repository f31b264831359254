#pragma once
// Runs a port blocker window through the console front end in a scratch
// directory, with loopback peers made of plain POSIX sockets.
#include "net/shellstate.h"
#include "platform/scratchdir.h"
#include "platform/text.h"
#include "support/loopbackports.h"
#include "support/testwindows.h"
#include "support/toolsfixture.h"
#include "tools/blockers/portblocker.h"
#include "tools/registertools.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace blocker_testing {

using testing_support::freePort;
using testing_support::loopback;
using testing_support::waitUntil;



inline int localPort(int fd) {
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    // The port has the same place in both families' addresses.
    return ntohs(reinterpret_cast<const sockaddr_in*>(&a)->sin_port);
}

// A TCP client that connects to 127.0.0.1, or from `from` (when given) to the
// loopback address of its family, and waits for the blocker to close the
// connection. Its local port, or -1.
inline int connectAndWaitForClose(int port, const char* from = nullptr, int milliseconds = 5000) {
    using testing_support::anyAddress;
    const auto to = anyAddress(port, from ? testing_support::loopbackOf(from) : "127.0.0.1");
    const int fd = ::socket(to.family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (from) {
        const auto own = anyAddress(0, from);
        ::bind(fd, own.get(), own.length);
    }
    timeval tv{milliseconds / 1000, (milliseconds % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    int result = -1;
    if (::connect(fd, to.get(), to.length) == 0) {
        char c;
        if (::recv(fd, &c, 1, 0) == 0) result = localPort(fd);
    }
    ::close(fd);
    return result;
}

// Sends one datagram to 127.0.0.1:port; the sender's port.
inline int sendDatagram(int port, const std::string& data) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in own = loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&own), sizeof own);
    const sockaddr_in to = loopback(port);
    ::sendto(fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    const int own_port = localPort(fd);
    ::close(fd);
    return own_port;
}

// What the kernel holds for the UDP socket bound to `port` (any address):
// the bytes waiting in its receive queue and the datagrams it dropped.
struct UdpQueue {
    long queued = -1;
    long drops = -1;
};

inline UdpQueue udpQueue(int port) {
    std::ifstream in("/proc/net/udp");
    std::string line;
    std::getline(in, line); // headings
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, "00000000:%04X", port);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode,
            refs, pointer;
        long drops = 0;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
            timeout >> inode >> refs >> pointer >> drops;
        if (local != wanted) continue;
        return {std::stol(queues.substr(queues.find(':') + 1), nullptr, 16), drops};
    }
    return {};
}

struct BlockerFixture : testing_support::ToolsFixture {
    std::shared_ptr<ui::ToolWindow> window;
    std::string name; // "WS_TcpB#1"

    // Opens the blocker and waits until its open handler has finished.
    void open(const std::string& procedure) {
        window = desktop->start(procedure);
        ASSERT_TRUE(window);
        name = window->name();
        // The open handler (banner, list, set-up loop) runs before anything posted
        // after the start.
        onWindow([] {});
    }

    // Runs `fn` on the window's thread and waits for it.
    void onWindow(std::function<void()> fn) { window->invoke(std::move(fn)).get(); }

    tools::PortBlocker& blocker() { return static_cast<tools::PortBlocker&>(*window); }

    void press(int control) {
        auto w = window;
        onWindow([w, control] { w->applyPress(control); });
    }

    // Everything the window printed after "<name> ".
    std::vector<std::string> printed() {
        std::vector<std::string> out;
        const std::string prefix = name + " ";
        for (auto& l : console.lines())
            if (l.rfind(prefix, 0) == 0) out.push_back(l.substr(prefix.size()));
        return out;
    }

    // The text column of every log line printed so far, in order.
    std::vector<std::string> logTexts() {
        std::vector<std::string> out;
        for (auto& l : printed())
            if (l.rfind("row 1 ", 0) == 0) out.push_back(l.substr(l.find('\t') + 1));
        return out;
    }

    bool logged(const std::string& text) {
        for (auto& t : logTexts())
            if (t == text) return true;
        return false;
    }

    bool waitForLog(const std::string& text, int milliseconds = 5000) {
        return waitUntil([&] { return logged(text); }, milliseconds);
    }

    // The log lines from the first one equal to `from` on.
    std::vector<std::string> logFrom(const std::string& from) {
        auto texts = logTexts();
        auto it = std::find(texts.begin(), texts.end(), from);
        return std::vector<std::string>(it, texts.end());
    }

    std::string caption() { return window->model().caption(); }

    std::string dump() {
        std::string s;
        for (auto& l : printed())
            s += l + "\n";
        return s;
    }

    // Counts the printed lines that start with `prefix`.
    std::size_t countPrinted(const std::string& prefix) {
        std::size_t n = 0;
        for (auto& l : printed())
            if (l.rfind(prefix, 0) == 0) ++n;
        return n;
    }
};

} // namespace blocker_testing
