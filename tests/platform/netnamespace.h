#pragma once
// Network namespaces made for one test with `ip netns`, under names no other run
// uses, and removed when the object goes (a failing test included). Nothing in
// them reaches beyond them.
#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <unistd.h>

class NetNamespace {
public:
    explicit NetNamespace(const std::string& role) {
        static std::atomic<int> counter{0};
        m_name = "wsicmp" + std::to_string(::getpid()) + "n" + std::to_string(counter++) + role;
        m_made = shell("ip netns add " + m_name);
        if (m_made) m_made = exec("ip link set lo up");
    }
    ~NetNamespace() {
        if (!m_name.empty()) shell("ip netns del " + m_name);
    }
    NetNamespace(const NetNamespace&) = delete;
    NetNamespace& operator=(const NetNamespace&) = delete;

    bool made() const { return m_made; }
    const std::string& name() const { return m_name; }

    // A command run inside the namespace; false when it fails.
    bool exec(const std::string& command) const {
        return shell("ip netns exec " + m_name + " " + command);
    }
    // `ip` with the namespace as its own.
    bool ip(const std::string& arguments) const {
        return shell("ip -n " + m_name + " " + arguments);
    }
    bool sysctl(const std::string& setting) const { return exec("sysctl -qw " + setting); }

    // Moves the calling thread into the namespace for the rest of its life.
    bool enter() const {
        const int fd = ::open(("/run/netns/" + m_name).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        const bool ok = ::setns(fd, CLONE_NEWNET) == 0;
        ::close(fd);
        return ok;
    }
    // Also gives the calling thread a mount namespace of its own in which `hosts`
    // is its /etc/hosts and the resolver asks only the namespace's loopback, as
    // `ip netns exec` does with /etc/netns/NAME.
    bool enterWithHosts(const std::string& hosts, const std::string& resolvConf) const {
        if (!enter() || ::unshare(CLONE_NEWNS) != 0) return false;
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
        return ::mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) == 0 &&
               ::mount(resolvConf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0;
    }

    static bool shell(const std::string& command) {
        return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
    }

private:
    std::string m_name;
    bool m_made = false;
};
