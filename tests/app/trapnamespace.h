#pragma once
// The port blockers run headless as a trap daemon inside a network namespace of the
// test's own, where nothing else sends and every port is free: scanners and forged
// segments reach only them.
#include "app/program.h"
#include "platform/netnamespace.h"
#include "platform/scratchdir.h"
#include "support/loopbackports.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <memory>
#include <sched.h>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

class TrapNamespace {
public:
    TrapNamespace() : m_net("trap") {
        if (m_net.made())
            m_fd = ::open(("/run/netns/" + m_net.name()).c_str(), O_RDONLY | O_CLOEXEC);
    }
    ~TrapNamespace() {
        m_program.reset();
        if (m_fd >= 0) ::close(m_fd);
    }

    bool ready() const { return m_fd >= 0; }

    // Starts the program in the namespace with the blockers `procedures` open, and
    // waits until each has finished its open handler (its sockets set up, its
    // watch on half-open probes in place): a script dumps each window, and a dump
    // runs on the window's thread after what was queued there before. `more` runs
    // in the child once it has entered the namespace.
    Program& start(const std::vector<std::string>& procedures, std::vector<std::string> args = {},
                   std::function<void()> more = {}) {
        std::string script;
        for (const auto& p : procedures)
            script += "open " + p + "\ndump " + p + "\n";
        args.insert(args.begin(), {"--headless", "--script", "-"});
        const int fd = m_fd;
        m_program = std::make_unique<Program>(std::move(args), script, [fd, more] {
            if (::setns(fd, CLONE_NEWNET) != 0) ::_exit(126);
            if (more) more();
        });
        for (const auto& p : procedures)
            if (!m_program->waitForOutput(p + "#1 dump caption "))
                ADD_FAILURE() << p << " did not open";
        return *m_program;
    }

    // Runs `fn` on a thread of its own inside the namespace, and waits for it: the
    // sockets it makes belong to the namespace. False when it could not enter.
    bool inside(const std::function<void()>& fn) const {
        bool entered = false;
        std::thread([&] {
            entered = ::setns(m_fd, CLONE_NEWNET) == 0;
            if (entered) fn();
        }).join();
        return entered;
    }

    // A command run in the namespace with its output kept; empty when it failed.
    std::string run(const std::string& command) {
        const std::string file = "command-output.txt";
        const std::string line =
            "ip netns exec " + m_net.name() + " " + command + " >" + file + " 2>&1";
        if (std::system(line.c_str()) != 0) return {};
        return ScratchDir::read(file);
    }

private:
    NetNamespace m_net;
    int m_fd = -1;
    std::unique_ptr<Program> m_program;
};

// Connects to the loopback address of `from`'s family (127.0.0.1 or ::1) and port
// from `from`, and waits until the trap has closed the connection (call it inside
// the namespace). The client's port, or -1.
inline int connectUntilClosed(int port, const char* from = "127.0.0.1") {
    using testing_support::anyAddress;
    const auto own = anyAddress(0, from), to = anyAddress(port, testing_support::loopbackOf(from));
    const int fd = ::socket(own.family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval tv{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    int result = -1;
    char c;
    if (::bind(fd, own.get(), own.length) == 0 && ::connect(fd, to.get(), to.length) == 0 &&
        ::recv(fd, &c, 1, 0) == 0) {
        auto bound = own;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound.storage), &bound.length);
        result = ntohs(reinterpret_cast<const sockaddr_in*>(&bound.storage)->sin_port);
    }
    ::close(fd);
    return result;
}

// Sends one datagram to the loopback address of `from`'s family and port (inside the
// namespace); the sender's port.
inline int sendDatagram(int port, const std::string& data, const char* from = "127.0.0.1") {
    using testing_support::anyAddress;
    const auto own = anyAddress(0, from), to = anyAddress(port, testing_support::loopbackOf(from));
    const int fd = ::socket(own.family(), SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ::bind(fd, own.get(), own.length);
    ::sendto(fd, data.data(), data.size(), 0, to.get(), to.length);
    auto bound = own;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound.storage), &bound.length);
    ::close(fd);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&bound.storage)->sin_port);
}

// The text column of every log line that `window` ("WS_TcpB#1") printed.
inline std::vector<std::string> logTexts(const std::string& output, const std::string& window) {
    std::vector<std::string> texts;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(window + " row 1 ", 0) == 0 && line.find('\t') != std::string::npos)
            texts.push_back(line.substr(line.find('\t') + 1));
    return texts;
}

// The hit count in the last caption `window` printed, 0 before any.
inline long lastHits(const std::string& output, const std::string& window) {
    const std::string prefix = "\n" + window + " caption ";
    const std::size_t line = ("\n" + output).rfind(prefix);
    if (line == std::string::npos) return 0;
    const std::size_t end = output.find('\n', line);
    const std::string caption = output.substr(line, end - line);
    const std::size_t hit = caption.rfind(" Hit:");
    return hit == std::string::npos ? 0 : std::atol(caption.c_str() + hit + 5);
}

// The caption's hit count has reached `hits`, and stays there through `quiet`
// milliseconds more: long enough for a half-open probe that was still pending to
// be told (one second and a tick), so that a count that went on would be seen.
inline ::testing::AssertionResult hitsSettleAt(Program& program, const std::string& window,
                                               long hits, int quiet = 1600) {
    auto count = [&](const std::string& out) { return lastHits(out, window); };
    if (!program.waitFor([&](const std::string& out) { return count(out) >= hits; }, 20000) ||
        count(program.output()) != hits)
        return ::testing::AssertionFailure()
               << window << " counted " << count(program.output()) << ", not " << hits << "\n"
               << program.output();
    if (program.waitFor([&](const std::string& out) { return count(out) > hits; }, quiet))
        return ::testing::AssertionFailure()
               << window << " went on counting beyond " << hits << "\n"
               << program.output();
    return ::testing::AssertionSuccess();
}
