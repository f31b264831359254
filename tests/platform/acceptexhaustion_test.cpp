// accept() when the process has no descriptor left: the waiting connection must not
// stay queued, announced again and again, with the window spinning on it.
#include "loopback.h"
#include "messagerecorder.h"
#include "platform/blockingcall.h"
#include "platform/winsock.h"
#include "socketstest.h"

#include <gtest/gtest.h>

#include <chrono>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr win::UINT kNotify = win::WM_USER + 101;

// The soft descriptor limit of the process, lowered for the life of the object.
class DescriptorLimit {
public:
    explicit DescriptorLimit(rlim_t limit) {
        ::getrlimit(RLIMIT_NOFILE, &m_saved);
        rlimit lowered = m_saved;
        lowered.rlim_cur = limit;
        m_set = ::setrlimit(RLIMIT_NOFILE, &lowered) == 0;
    }
    ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &m_saved); }
    bool set() const { return m_set; }

private:
    rlimit m_saved{};
    bool m_set = false;
};

int lowestFreeDescriptor() {
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ::close(fd);
    return fd;
}

class AcceptExhaustion : public SocketsTest {};

} // namespace

// With the limit at the lowest free descriptor the reserve still serves: the
// connection is taken and closed, its peer named, and nothing is announced again.
// With the limit below every descriptor not even the reserve can be taken back:
// FD_ACCEPT rests before the same connection is announced again.
TEST_F(AcceptExhaustion, WaitingConnectionIsShedNamingItsPeerOrTheListenerRests) {
    // This thread's blocking-call record is made while descriptors are free: the
    // undefined-behaviour checker verifies its first use of a type through a pipe,
    // which it cannot open once the limit is lowered.
    ASSERT_TRUE(win::WSACurrentBlockingThread());
    for (const bool reserveServes : {true, false}) {
        MessageRecorder window;
        const win::SOCKET server = loopback::listener();
        ASSERT_EQ(win::WSAAsyncSelect(server, &window, kNotify, win::FD_ACCEPT), 0);
        // Made while descriptors are free; connecting needs none.
        const win::SOCKET client = win::socket(AF_INET, SOCK_STREAM, 0);
        const timeval patience{5, 0};
        win::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&patience),
                        sizeof patience);
        win::sockaddr_in peer{};
        {
            DescriptorLimit limit(reserveServes ? rlim_t(lowestFreeDescriptor()) : 3);
            ASSERT_TRUE(limit.set());
            const auto to = loopback::address(loopback::portOf(server));
            ASSERT_EQ(win::connect(client, loopback::asSockaddr(to), sizeof to), 0);
            auto m = window.next(5s);
            ASSERT_TRUE(m);
            EXPECT_EQ(win::WSAGETSELECTEVENT(m->lParam), win::FD_ACCEPT);
            int length = sizeof peer;
            EXPECT_EQ(win::accept(server, reinterpret_cast<win::sockaddr*>(&peer), &length),
                      win::INVALID_SOCKET);
            EXPECT_EQ(win::WSAGetLastError(), win::WSAEMFILE);
            if (reserveServes) {
                EXPECT_EQ(peer.sin_port, win::htons(loopback::portOf(client)));
                EXPECT_EQ(peer.sin_addr.s_addr, win::htonl(0x7f000001));
                EXPECT_TRUE(window.staysQuiet()) << "the shed connection announced again";
            } else {
                EXPECT_EQ(peer.sin_family, 0) << "a peer named for a connection still queued";
                const auto failed = std::chrono::steady_clock::now();
                EXPECT_TRUE(window.staysQuiet(50ms)) << "announced again at once";
                m = window.next(5s);
                ASSERT_TRUE(m) << "never announced again";
                EXPECT_EQ(win::WSAGETSELECTEVENT(m->lParam), win::FD_ACCEPT);
                EXPECT_GE(std::chrono::steady_clock::now() - failed, 90ms);
            }
        }
        char c;
        if (reserveServes) {
            // The peer sees its connection end rather than wait in the queue.
            EXPECT_EQ(win::recv(client, &c, 1, 0), 0);
        } else {
            // Descriptors back: the connection that waited is accepted as usual.
            const win::SOCKET accepted = win::accept(server, nullptr, nullptr);
            EXPECT_NE(accepted, win::INVALID_SOCKET);
            win::closesocket(accepted);
        }
        win::closesocket(client);
        win::closesocket(server);
    }
}
