#include "platform/system.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace win {
namespace {

std::string loginName() {
    long bufSize = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(bufSize > 0 ? static_cast<std::size_t>(bufSize) : 16384);
    passwd pw{};
    passwd* result = nullptr;
    while (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &result) == ERANGE &&
           buf.size() < (1u << 20))
        buf.resize(buf.size() * 2);
    if (result && result->pw_name && *result->pw_name) return result->pw_name;
    for (const char* var : {"USER", "LOGNAME"})
        if (const char* v = std::getenv(var); v && *v) return v;
    return {};
}

// Copies `value` with Windows' size rules; `countNul` tells whether the size
// reported on success includes the NUL (GetUserNameA) or not (GetComputerNameA).
BOOL copyOut(const std::string& value, char* buf, DWORD* size, bool countNul) {
    if (!size || value.empty()) return 0;
    const auto needed = static_cast<DWORD>(value.size() + 1);
    if (!buf || *size < needed) {
        *size = needed;
        return 0;
    }
    std::memcpy(buf, value.c_str(), needed);
    *size = countNul ? needed : needed - 1;
    return 1;
}

std::optional<std::string> nonEmptyEnv(const char* name) {
    const char* v = std::getenv(name);
    if (!v) return std::nullopt;
    std::string s(v);
    if (s.find_first_not_of(" \t") == std::string::npos) return std::nullopt;
    return s;
}

// The full path of a program as the shell would find it, or nothing.
std::optional<std::string> findProgram(const std::string& name) {
    if (name.empty()) return std::nullopt;
    if (name.find('/') != std::string::npos) {
        if (::access(name.c_str(), X_OK) == 0) return name;
        return std::nullopt;
    }
    const char* pathEnv = std::getenv("PATH");
    const std::string path = pathEnv ? pathEnv : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        const std::string dir = path.substr(start, end - start);
        if (!dir.empty()) {
            const std::string full = dir + "/" + name;
            if (::access(full.c_str(), X_OK) == 0) return full;
        }
        start = end + 1;
    }
    return std::nullopt;
}

// The program an editor command line ("code -w", "vim") starts with.
std::string firstWord(const std::string& command) {
    const auto begin = command.find_first_not_of(" \t");
    const auto end = command.find_first_of(" \t", begin);
    return command.substr(begin, end == std::string::npos ? end : end - begin);
}

// The command line to open `path` with, or nothing when no editor can be found.
// The editor variables may hold arguments ("code -w"), so the shell splits them.
std::optional<std::vector<std::string>> editorCommand(const std::string& path) {
    if (const auto visual = nonEmptyEnv("VISUAL"); visual && findProgram(firstWord(*visual)))
        return std::vector<std::string>{"/bin/sh", "-c", "exec $VISUAL \"$1\"", "sh", path};
    if (const auto editor = nonEmptyEnv("EDITOR"); editor && findProgram(firstWord(*editor))) {
        // $EDITOR names a terminal program; without a terminal it cannot be used.
        for (const char* term : {"x-terminal-emulator", "xterm"})
            if (const auto t = findProgram(term))
                return std::vector<std::string>{*t,   "-e", "/bin/sh", "-c", "exec $EDITOR \"$1\"",
                                                "sh", path};
    }
    if (const auto open = findProgram("xdg-open")) return std::vector<std::string>{*open, path};
    return std::nullopt;
}

// Runs in the grandchild after fork: only async-signal-safe calls from here on.
[[noreturn]] void execDetached(char* const* argv, int reportFd, long maxFd) {
    ::setsid();
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    // The exec-failure pipe becomes descriptor 3 (close-on-exec, so a successful
    // exec closes it); every other descriptor past the standard three goes.
    if (reportFd != 3) {
        ::dup2(reportFd, 3);
        ::fcntl(3, F_SETFD, FD_CLOEXEC);
    }
    if (::close_range(4, ~0U, 0) != 0)
        for (long fd = 4; fd < maxFd; ++fd)
            ::close(static_cast<int>(fd));
    ::execv(argv[0], argv);
    const int err = errno;
    [[maybe_unused]] auto n = ::write(3, &err, sizeof err);
    ::_exit(127);
}

} // namespace

BOOL GetUserNameA(char* buf, DWORD* size) {
    return copyOut(loginName(), buf, size, true);
}

BOOL GetComputerNameA(char* buf, DWORD* size) {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) return 0;
    return copyOut(host, buf, size, false);
}

std::string currentDirectory() {
    std::vector<char> buf(4096);
    while (::getcwd(buf.data(), buf.size()) == nullptr) {
        if (errno != ERANGE) return {};
        buf.resize(buf.size() * 2);
    }
    return buf.data();
}

bool startEditor(const std::string& path) {
    const auto command = editorCommand(path);
    if (!command) return false;
    // Everything the child needs is built before fork: after it, no allocation.
    std::vector<char*> argv;
    for (const auto& arg : *command)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const long maxFd = ::sysconf(_SC_OPEN_MAX) > 0 ? ::sysconf(_SC_OPEN_MAX) : 1024;

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return false;
    // Fork twice: the middle child exits at once and we reap it, so the editor is
    // adopted by init and never becomes our zombie, and we do not wait for it.
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (child == 0) {
        const pid_t grandchild = ::fork();
        if (grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);
        execDetached(argv.data(), report[1], maxFd);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // The pipe reaches end of file once the editor has been exec'ed; an errno
    // arriving on it means the exec failed.
    int execError = 0;
    ssize_t got;
    while ((got = ::read(report[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    const bool forked = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return forked && got == 0;
}

} // namespace win
