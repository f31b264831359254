#pragma once
// Runs the built wstoolbox as a separate process in the current directory and
// collects what it prints.
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class Program {
public:
    // `launcher`, when given, is a command that runs the program (for example
    // "ip netns exec NAME"), found on the PATH. `binary`: another build of the
    // program than the one under test.
    explicit Program(std::vector<std::string> args, const std::string& input = {},
                     std::vector<std::string> launcher = {}, std::string binary = {}) {
        int out[2], in[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0) return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            std::vector<char*> argv;
            std::string path =
                binary.empty() ? std::string(WS_BINARY_DIR) + "/wstoolbox" : binary;
            for (auto& l : launcher) argv.push_back(l.data());
            argv.push_back(path.data());
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            if (launcher.empty())
                ::execv(path.c_str(), argv.data());
            else
                ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(in[0]);
        m_out = out[0];
        if (!input.empty()) [[maybe_unused]] auto n = ::write(in[1], input.data(), input.size());
        ::close(in[1]);
    }
    ~Program() {
        if (m_pid > 0 && !m_exited) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0) ::close(m_out);
    }

    // Reads output until a line contains `text` or the time runs out.
    bool waitForOutput(const std::string& text, int milliseconds = 10000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (m_output.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !readSome(static_cast<int>(left.count()))) break;
        }
        return m_output.find(text) != std::string::npos;
    }

    // Waits for the process to end; its exit status, or -1 after the time-out.
    int wait(int milliseconds = 20000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (std::chrono::steady_clock::now() < deadline) {
            readSome(20);
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_exited = true;
                while (readSome(50)) {
                }
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
        }
        return -1;
    }

    void signal(int sig) { ::kill(m_pid, sig); }
    // Reads what the program prints for `milliseconds`.
    void readFor(int milliseconds) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (std::chrono::steady_clock::now() < deadline)
            readSome(int(std::chrono::duration_cast<std::chrono::milliseconds>(
                             deadline - std::chrono::steady_clock::now())
                             .count()) +
                     1);
    }
    pid_t pid() const { return m_pid; }
    const std::string& output() const { return m_output; }
    bool printed(const std::string& line) const {
        return ("\n" + m_output).find("\n" + line + "\n") != std::string::npos;
    }

private:
    bool readSome(int timeoutMs) {
        pollfd p{m_out, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return false;
        char buf[4096];
        const ssize_t n = ::read(m_out, buf, sizeof buf);
        if (n <= 0) return false;
        m_output.append(buf, static_cast<std::size_t>(n));
        return true;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    bool m_exited = false;
    std::string m_output;
};
