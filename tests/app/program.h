#pragma once
// Runs the built wstoolbox as a separate process in the current directory and
// collects what it prints.
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

// How the program is started, beyond its arguments.
struct ProgramSetup {
    std::vector<std::string> unsetEnv;                       // variables taken away
    std::vector<std::pair<std::string, std::string>> setEnv; // and set
    bool keepInputOpen = false; // standard input stays open until the object goes
    bool withErrors = false;    // standard error joins standard output
    std::string binary;         // another build of the program than the one under test

    static ProgramSetup errorsToo() {
        ProgramSetup s;
        s.withErrors = true;
        return s;
    }
    static ProgramSetup inputKeptOpen() {
        ProgramSetup s;
        s.keepInputOpen = true;
        return s;
    }
#ifdef WS_OPTIMISED_PROGRAM
    // The program as ./run builds it, without the sanitizers: for runs that take its
    // descriptors away or measure its pace.
    static ProgramSetup optimised() {
        ProgramSetup s;
        s.binary = WS_OPTIMISED_PROGRAM;
        return s;
    }
#endif
};

class Program {
public:
    using Setup = ProgramSetup;

    // `launcher`, when given, is a command that runs the program (for example
    // "ip netns exec NAME"), found on the PATH. `inChild` runs in the new process
    // just before the program starts (to enter namespaces, drop rights); it must
    // make system calls only, as the child of a process that may have other threads.
    explicit Program(std::vector<std::string> args, const std::string& input = {},
                     std::vector<std::string> launcher = {},
                     const std::function<void()>& inChild = {}, const Setup& setup = {}) {
        // The environment is made here: the child may only make system calls.
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            bool dropped = false;
            for (const auto& gone : setup.unsetEnv) dropped = dropped || gone == name;
            for (const auto& [set, value] : setup.setEnv) dropped = dropped || set == name;
            if (!dropped) env.push_back(entry);
        }
        for (const auto& [name, value] : setup.setEnv) env.push_back(name + "=" + value);
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        int out[2], in[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0) return;
        m_pid = ::fork();
        if (m_pid == 0) {
            if (inChild) inChild();
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            if (setup.withErrors) ::dup2(out[1], 2);
            environ = envp.data();
            std::vector<char*> argv;
            std::string path = setup.binary.empty() ? std::string(WS_BINARY_DIR) + "/wstoolbox"
                                                    : setup.binary;
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
        if (setup.keepInputOpen)
            m_in = in[1];
        else
            ::close(in[1]);
    }
    Program(std::vector<std::string> args, const std::string& input,
            const std::function<void()>& inChild)
        : Program(std::move(args), input, {}, inChild) {}
    Program(std::vector<std::string> args, const std::string& input, const Setup& setup)
        : Program(std::move(args), input, {}, {}, setup) {}
    ~Program() {
        if (m_in >= 0) ::close(m_in);
        if (m_pid > 0 && !m_exited) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0) ::close(m_out);
    }

    // Reads output until a line contains `text` or the time runs out.
    bool waitForOutput(const std::string& text, int milliseconds = 10000) {
        return waitFor([&](const std::string& out) { return out.find(text) != std::string::npos; },
                       milliseconds);
    }
    // Reads output until `done` holds for all of it or the time runs out.
    bool waitFor(const std::function<bool(const std::string&)>& done, int milliseconds) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (!done(m_output)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !readSome(static_cast<int>(left.count()))) break;
        }
        return done(m_output);
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
    int m_in = -1;
    bool m_exited = false;
    std::string m_output;
};
