// Who holds a port, asked of the kernel's socket diagnostics and of /proc/net alike:
// sockets of this process in both families, and one that no process holds any more.
#include "platform/portholders.h"
#include "support/selfholder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

struct Case {
    int family;
    int type;
    bool timeWait; // the listener goes, leaving a connection in TIME_WAIT on its port
};

// A socket on an ephemeral port of the family's loopback, listening when TCP.
int openOn(int family, int type, sockaddr_storage& a, socklen_t& len) {
    const int fd = ::socket(family, type | SOCK_CLOEXEC, 0);
    a = {};
    a.ss_family = sa_family_t(family);
    if (family == AF_INET)
        reinterpret_cast<sockaddr_in&>(a).sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    else
        reinterpret_cast<sockaddr_in6&>(a).sin6_addr = in6addr_loopback;
    len = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), len), 0);
    if (type == SOCK_STREAM) {
        EXPECT_EQ(::listen(fd, 4), 0);
    }
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return fd;
}

} // namespace

TEST(PortHolders, NameTheProcessOrTheStateOfEverySocketOnThePort) {
    const testing_support::SelfHolder me;
    const win::PortHolder self{::getpid(), me.command, me.user};
    const Case cases[] = {{AF_INET6, SOCK_STREAM, false}, {AF_INET, SOCK_DGRAM, false},
                          {AF_INET, SOCK_STREAM, true}};
    for (const auto source : {win::PortSockets::Source::Kernel, win::PortSockets::Source::ProcNet})
        for (const Case& c : cases) {
            sockaddr_storage a;
            socklen_t len;
            int fd = openOn(c.family, c.type, a, len);
            const auto port = ntohs(reinterpret_cast<sockaddr_in&>(a).sin_port);
            if (c.timeWait) {
                // The accepted end closes first, so it is the one left waiting.
                const int client = ::socket(c.family, SOCK_STREAM | SOCK_CLOEXEC, 0);
                ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&a), len), 0);
                ::close(::accept(fd, nullptr, nullptr));
                ::close(client);
                ::close(std::exchange(fd, -1));
            }
            const std::string name = std::to_string(c.family) + "/" + std::to_string(c.type) +
                                     " from " + (source == win::PortSockets::Source::Kernel
                                                     ? "sock_diag"
                                                     : "/proc/net");
            win::HeldPort held;
            for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
                 std::chrono::steady_clock::now() < until;
                 std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
                held = win::PortHolders(c.type, source).find(port);
                if (!c.timeWait || held.unheld == std::vector<std::string>{"TIME_WAIT"}) break;
            }
            EXPECT_EQ(held.processes, c.timeWait ? std::vector<win::PortHolder>{}
                                                 : std::vector<win::PortHolder>{self})
                << name;
            EXPECT_EQ(held.unheld, c.timeWait ? std::vector<std::string>{"TIME_WAIT"}
                                              : std::vector<std::string>{})
                << name;
            EXPECT_FALSE(held.otherUser) << name;
            if (fd >= 0) ::close(fd);
        }
}
