#include "platform/winsock.h"
#include "loopback.h"
#include "socketstest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>

using namespace std::chrono_literals;

namespace {

struct ErrnoCase {
    int error;
    int code;
};

class ErrnoMapping : public ::testing::TestWithParam<ErrnoCase> {};

TEST_P(ErrnoMapping, GivesTheWinsockCode) {
    EXPECT_EQ(win::WSAErrorFromErrno(GetParam().error), GetParam().code)
        << std::strerror(GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    SocketErrors, ErrnoMapping,
    ::testing::Values(
        ErrnoCase{0, 0}, ErrnoCase{EINTR, win::WSAEINTR}, ErrnoCase{EBADF, win::WSAENOTSOCK},
        ErrnoCase{ENOTSOCK, win::WSAENOTSOCK}, ErrnoCase{EACCES, win::WSAEACCES},
        ErrnoCase{EPERM, win::WSAEACCES}, ErrnoCase{EFAULT, win::WSAEFAULT},
        ErrnoCase{EINVAL, win::WSAEINVAL}, ErrnoCase{EMFILE, win::WSAEMFILE},
        ErrnoCase{ENFILE, win::WSAEMFILE}, ErrnoCase{EAGAIN, win::WSAEWOULDBLOCK},
        ErrnoCase{EWOULDBLOCK, win::WSAEWOULDBLOCK}, ErrnoCase{EINPROGRESS, win::WSAEWOULDBLOCK},
        ErrnoCase{EALREADY, win::WSAEALREADY}, ErrnoCase{EDESTADDRREQ, win::WSAEDESTADDRREQ},
        ErrnoCase{EMSGSIZE, win::WSAEMSGSIZE}, ErrnoCase{EPROTOTYPE, win::WSAEPROTOTYPE},
        ErrnoCase{ENOPROTOOPT, win::WSAENOPROTOOPT},
        ErrnoCase{EPROTONOSUPPORT, win::WSAEPROTONOSUPPORT},
        ErrnoCase{ESOCKTNOSUPPORT, win::WSAESOCKTNOSUPPORT},
        ErrnoCase{EOPNOTSUPP, win::WSAEOPNOTSUPP}, ErrnoCase{EPFNOSUPPORT, win::WSAEPFNOSUPPORT},
        ErrnoCase{EAFNOSUPPORT, win::WSAEAFNOSUPPORT}, ErrnoCase{EADDRINUSE, win::WSAEADDRINUSE},
        ErrnoCase{EADDRNOTAVAIL, win::WSAEADDRNOTAVAIL}, ErrnoCase{ENETDOWN, win::WSAENETDOWN},
        ErrnoCase{ENETUNREACH, win::WSAENETUNREACH}, ErrnoCase{ENETRESET, win::WSAENETRESET},
        ErrnoCase{ECONNABORTED, win::WSAECONNABORTED}, ErrnoCase{ECONNRESET, win::WSAECONNRESET},
        ErrnoCase{ENOBUFS, win::WSAENOBUFS}, ErrnoCase{ENOMEM, win::WSAENOBUFS},
        ErrnoCase{EISCONN, win::WSAEISCONN}, ErrnoCase{ENOTCONN, win::WSAENOTCONN},
        ErrnoCase{ESHUTDOWN, win::WSAESHUTDOWN}, ErrnoCase{EPIPE, win::WSAESHUTDOWN},
        ErrnoCase{ETOOMANYREFS, win::WSAETOOMANYREFS}, ErrnoCase{ETIMEDOUT, win::WSAETIMEDOUT},
        ErrnoCase{ECONNREFUSED, win::WSAECONNREFUSED}, ErrnoCase{ELOOP, win::WSAELOOP},
        ErrnoCase{ENAMETOOLONG, win::WSAENAMETOOLONG}, ErrnoCase{EHOSTDOWN, win::WSAEHOSTDOWN},
        ErrnoCase{EHOSTUNREACH, win::WSAEHOSTUNREACH}, ErrnoCase{ENOTEMPTY, win::WSAENOTEMPTY},
        ErrnoCase{EUSERS, win::WSAEUSERS}, ErrnoCase{EDQUOT, win::WSAEDQUOT},
        ErrnoCase{ESTALE, win::WSAESTALE}, ErrnoCase{EREMOTE, win::WSAEREMOTE},
        ErrnoCase{EIO, win::WSAEINVAL}));

TEST(HostErrorMapping, GivesTheWinsockLookupCodes) {
    const struct {
        int hostError;
        int code;
    } cases[] = {{0, 0},
                 {HOST_NOT_FOUND, win::WSAHOST_NOT_FOUND},
                 {TRY_AGAIN, win::WSATRY_AGAIN},
                 {NO_RECOVERY, win::WSANO_RECOVERY},
                 {NO_DATA, win::WSANO_DATA},
                 {NETDB_INTERNAL, win::WSANO_RECOVERY}};
    for (const auto& c : cases)
        EXPECT_EQ(win::WSAErrorFromHostError(c.hostError), c.code) << c.hostError;
}

TEST(Startup, AcceptsVersionOnePointOneAndLaterAnsweringOnePointOne) {
    const struct {
        win::WORD requested;
        int result;
    } cases[] = {{0x0101, 0}, {0x0202, 0}, {0x0102, 0}, {0x0002, 0},
                 {0x0001, win::WSAVERNOTSUPPORTED}, {0x0000, win::WSAVERNOTSUPPORTED},
                 {0x0100, win::WSAVERNOTSUPPORTED}};
    for (const auto& c : cases) {
        win::WSADATA data;
        EXPECT_EQ(win::WSAStartup(c.requested, &data), c.result) << std::hex << c.requested;
        EXPECT_EQ(data.wVersion, 0x0101);
        EXPECT_EQ(data.wHighVersion, 0x0101);
        if (c.result == 0) {
            EXPECT_EQ(win::WSACleanup(), 0);
        }
    }
    EXPECT_EQ(win::WSAStartup(0x0101, nullptr), win::WSAEFAULT);
}

TEST(Startup, FillsTheDataTheInformationWindowShows) {
    win::WSADATA data;
    // Left-over bytes must not show through: the texts are terminated.
    std::fill(std::begin(data.szDescription), std::end(data.szDescription), 'x');
    std::fill(std::begin(data.szSystemStatus), std::end(data.szSystemStatus), 'x');
    ASSERT_EQ(win::WSAStartup(0x0101, &data), 0);
    const std::string description(data.szDescription);
    const std::string status(data.szSystemStatus);
    EXPECT_FALSE(description.empty());
    EXPECT_LE(description.size(), std::size_t(win::WSADESCRIPTION_LEN));
    EXPECT_EQ(description.find("Microsoft"), std::string::npos);
    EXPECT_EQ(status, "Running");
    EXPECT_EQ(data.lpVendorInfo, nullptr);
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const auto expected = limit.rlim_cur == RLIM_INFINITY
                              ? 65535u
                              : unsigned(std::min<rlim_t>(limit.rlim_cur, 65535));
    EXPECT_EQ(data.iMaxSockets, expected);

    // The advertised datagram limit is what a datagram may really carry.
    const win::SOCKET receiver = loopback::bound(SOCK_DGRAM);
    const win::SOCKET sender = win::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_NE(receiver, win::INVALID_SOCKET);
    const auto to = loopback::address(loopback::portOf(receiver));
    std::vector<char> payload(data.iMaxUdpDg + 1, 'd');
    EXPECT_EQ(win::sendto(sender, payload.data(), data.iMaxUdpDg, 0, loopback::asSockaddr(to),
                          sizeof to),
              data.iMaxUdpDg);
    EXPECT_EQ(win::sendto(sender, payload.data(), int(payload.size()), 0,
                          loopback::asSockaddr(to), sizeof to),
              win::SOCKET_ERROR);
    EXPECT_EQ(win::WSAGetLastError(), win::WSAEMSGSIZE);
    win::closesocket(sender);
    win::closesocket(receiver);
    EXPECT_EQ(win::WSACleanup(), 0);
}

TEST(Startup, CallsNeedAnOutstandingStartup) {
    const win::SOCKET early = win::socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(early, win::INVALID_SOCKET);
    EXPECT_EQ(win::WSAGetLastError(), win::WSANOTINITIALISED);
    EXPECT_EQ(win::WSACleanup(), win::SOCKET_ERROR);
    EXPECT_EQ(win::WSAGetLastError(), win::WSANOTINITIALISED);

    win::WSADATA data;
    ASSERT_EQ(win::WSAStartup(0x0101, &data), 0);
    ASSERT_EQ(win::WSAStartup(0x0101, &data), 0);
    ASSERT_EQ(win::WSACleanup(), 0);
    // One start still outstanding: calls work.
    const win::SOCKET s = win::socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_NE(s, win::INVALID_SOCKET);
    ASSERT_EQ(win::WSACleanup(), 0);
    EXPECT_EQ(win::closesocket(s), win::SOCKET_ERROR);
    EXPECT_EQ(win::WSAGetLastError(), win::WSANOTINITIALISED);
    EXPECT_EQ(win::gethostbyname("localhost"), nullptr);
    EXPECT_EQ(win::WSAGetLastError(), win::WSANOTINITIALISED);
    ASSERT_EQ(win::WSAStartup(0x0101, &data), 0);
    EXPECT_EQ(win::closesocket(s), 0);
    EXPECT_EQ(win::WSACleanup(), 0);
}

class LastError : public SocketsTest {};

TEST_F(LastError, BelongsToTheThreadThatFailed) {
    // Two threads fail differently at the same moment; each reads its own error.
    std::latch failed(2);
    std::latch read(2);
    int seenA = 0;
    int seenB = 0;
    std::thread a([&] {
        win::closesocket(win::INVALID_SOCKET - 1);
        failed.arrive_and_wait();
        seenA = win::WSAGetLastError();
        read.arrive_and_wait();
    });
    std::thread b([&] {
        const win::SOCKET s = win::socket(AF_INET, SOCK_STREAM, 0);
        win::bind(s, nullptr, 0);
        failed.arrive_and_wait();
        seenB = win::WSAGetLastError();
        read.arrive_and_wait();
        win::closesocket(s);
    });
    a.join();
    b.join();
    EXPECT_EQ(seenA, win::WSAENOTSOCK);
    EXPECT_EQ(seenB, win::WSAEFAULT);
    win::WSASetLastError(win::WSAEINTR);
    std::thread([] { EXPECT_EQ(win::WSAGetLastError(), 0); }).join();
    EXPECT_EQ(win::WSAGetLastError(), win::WSAEINTR);
}

} // namespace
