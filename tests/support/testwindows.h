#pragma once
// Helpers for tests that run real tool windows on their own threads.
#include "ui/console/consolefrontend.h"
#include "ui/console/consoleoutput.h"
#include "ui/desktop.h"
#include "ui/procedureregistry.h"
#include "ui/toolwindow.h"

#include <QCoreApplication>
#include <chrono>
#include <memory>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace testing_support {

// Window threads run Qt event loops, which want an application object; tests make
// one on first use (the test's main thread) and keep it to the end.
inline void ensureQtApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "wstoolbox-test";
    static char* argv[] = {name, nullptr};
    static std::unique_ptr<QCoreApplication> app = std::make_unique<QCoreApplication>(argc, argv);
}

// Polls `condition` until it holds or the deadline passes.
inline bool waitUntil(const std::function<bool()>& condition, int milliseconds = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Console output captured in a temporary file, readable as lines at any moment.
class CapturedConsole {
public:
    CapturedConsole() : m_file(std::tmpfile()), output(m_file), frontEnd(output) {
        ensureQtApplication();
        output.keepHistory(true);
    }
    ~CapturedConsole() {
        output.flush(); // the JSON writer's last lines, before their file goes
        std::fclose(m_file);
    }

    // Reads the file by position, leaving the stream's own position alone: the
    // tool threads keep writing to it meanwhile, and every line is flushed as it
    // is printed.
    std::vector<std::string> lines() {
        std::string content;
        char buf[65536];
        for (off_t at = 0;;) {
            const ssize_t n = ::pread(::fileno(m_file), buf, sizeof buf, at);
            if (n <= 0) break;
            content.append(buf, static_cast<std::size_t>(n));
            at += n;
        }
        std::vector<std::string> out;
        std::size_t start = 0;
        for (std::size_t nl; (nl = content.find('\n', start)) != std::string::npos; start = nl + 1)
            out.push_back(content.substr(start, nl - start));
        return out;
    }

    bool has(const std::string& line) {
        for (const auto& l : lines())
            if (l == line) return true;
        return false;
    }

    bool waitForLine(const std::string& line, int milliseconds = 5000) {
        return waitUntil([&] { return has(line); }, milliseconds);
    }

private:
    std::FILE* m_file;

public:
    ui::ConsoleOutput output;
    ui::ConsoleFrontEnd frontEnd;
};

} // namespace testing_support
