#include "platform/socketprocesses.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

namespace win {
namespace {

// A decimal number making up the whole text, or -1.
long wholeNumber(const char* text) {
    if (*text < '0' || *text > '9') return -1;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return *end == '\0' ? value : -1;
}

std::string userName(uid_t uid) {
    passwd entry{};
    passwd* found = nullptr;
    char buffer[1024];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return found->pw_name;
    return std::to_string(uid);
}

} // namespace

SocketProcesses::SocketProcesses() {
    DIR* proc = ::opendir("/proc");
    if (!proc) {
        m_blind = true;
        return;
    }
    constexpr const char kSocket[] = "socket:[";
    while (const dirent* process = ::readdir(proc)) {
        const long pid = wholeNumber(process->d_name);
        if (pid <= 0) continue;
        const std::string fdPath = std::string("/proc/") + process->d_name + "/fd";
        const int fdDir = ::open(fdPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fdDir < 0) {
            // A process that ended meanwhile held nothing; one we may not look into
            // may hold anything.
            if (errno != ENOENT) m_blind = true;
            continue;
        }
        DIR* fds = ::fdopendir(fdDir);
        if (!fds) {
            ::close(fdDir);
            continue;
        }
        while (const dirent* fd = ::readdir(fds)) {
            if (fd->d_name[0] == '.') continue;
            char target[64];
            const ssize_t n = ::readlinkat(fdDir, fd->d_name, target, sizeof target - 1);
            if (n <= ssize_t(sizeof kSocket - 1) ||
                std::memcmp(target, kSocket, sizeof kSocket - 1) != 0)
                continue;
            target[n] = '\0';
            const std::uint64_t inode = std::strtoull(target + sizeof kSocket - 1, nullptr, 10);
            auto& pids = m_pidsOf[inode];
            // A socket may sit under several descriptors of one process.
            if (pids.empty() || pids.back() != int(pid)) pids.push_back(int(pid));
        }
        ::closedir(fds);
    }
    ::closedir(proc);
}

const std::vector<int>& SocketProcesses::holdersOf(std::uint64_t inode) const {
    static const std::vector<int> none;
    const auto it = m_pidsOf.find(inode);
    return it == m_pidsOf.end() ? none : it->second;
}

PortHolder SocketProcesses::describe(int pid) {
    PortHolder holder;
    holder.pid = pid;
    const std::string dir = "/proc/" + std::to_string(pid) + "/";
    std::ifstream comm(dir + "comm");
    if (!std::getline(comm, holder.command)) return holder;
    // The user whose rights it runs with, as ps names it: the effective one, the
    // second figure of the "Uid:" line.
    std::ifstream status(dir + "status");
    for (std::string line; std::getline(status, line);) {
        unsigned real = 0, effective = 0;
        if (std::sscanf(line.c_str(), "Uid: %u %u", &real, &effective) == 2) {
            holder.user = userName(effective);
            break;
        }
    }
    return holder;
}

} // namespace win
