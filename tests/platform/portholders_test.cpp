// Who holds a port, asked of the kernel's socket diagnostics and of /proc/net alike:
// this process's IPv6 listener with a connection of its own left in TIME_WAIT on
// the port.
#include "platform/portholders.h"
#include "support/selfholder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

TEST(PortHolders, BothSourcesNameThisProcessAndTheStateOfASocketNoProcessHolds) {
    using namespace std::chrono_literals;
    const testing_support::SelfHolder me;
    const std::vector<win::PortHolder> self{{::getpid(), me.command, me.user}};
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    socklen_t len = sizeof a;
    const int tcp = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_TRUE(::bind(tcp, reinterpret_cast<sockaddr*>(&a), len) == 0 && ::listen(tcp, 4) == 0);
    ::getsockname(tcp, reinterpret_cast<sockaddr*>(&a), &len);
    const int client = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&a), len), 0);
    ::close(::accept(tcp, nullptr, nullptr)); // closing first, it is the one left waiting
    ::close(client);
    for (const auto source :
         {win::PortSockets::Source::Kernel, win::PortSockets::Source::ProcNet}) {
        win::HeldPort held; // until the state shows, on a loaded machine
        for (int i = 0; i < 500 && held.unheld.empty(); ++i, std::this_thread::sleep_for(10ms))
            held = win::PortHolders(SOCK_STREAM, source).find(ntohs(a.sin6_port));
        EXPECT_EQ(held.processes, self) << int(source);
        EXPECT_EQ(held.unheld, std::vector<std::string>{"TIME_WAIT"}) << int(source);
    }
    ::close(tcp);
}
