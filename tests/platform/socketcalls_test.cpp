#include "platform/winsock.h"
#include "platform/ws2tcpip.h"
#include "loopback.h"
#include "socketstest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

class SocketCalls : public SocketsTest {};

// Reads until the peer's close is seen (recv returns 0) or the deadline passes.
bool readUntilClosed(win::SOCKET s) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    char buf[64];
    while (std::chrono::steady_clock::now() < deadline) {
        const int n = win::recv(s, buf, sizeof buf, 0);
        if (n == 0) return true;
        if (n < 0) return false;
    }
    return false;
}

TEST_F(SocketCalls, PortHeldOnlyByTimeWaitBindsAgain) {
    const win::SOCKET server = loopback::listener();
    ASSERT_NE(server, win::INVALID_SOCKET);
    const win::u_short port = loopback::portOf(server);
    const win::SOCKET client = loopback::connected(port);
    ASSERT_NE(client, win::INVALID_SOCKET);
    const win::SOCKET served = win::accept(server, nullptr, nullptr);
    ASSERT_NE(served, win::INVALID_SOCKET);
    // The server's side closes first, so the server's port is left in TIME_WAIT.
    ASSERT_EQ(win::closesocket(served), 0);
    ASSERT_TRUE(readUntilClosed(client));
    ASSERT_EQ(win::closesocket(client), 0);
    ASSERT_EQ(win::closesocket(server), 0);

    // A plain POSIX socket shows the port is still held (TIME_WAIT)...
    const int plain = ::socket(AF_INET, SOCK_STREAM, 0);
    const auto a = loopback::address(port);
    const int plainResult = ::bind(plain, loopback::asSockaddr(a), sizeof a);
    ::close(plain);
    if (plainResult == 0) GTEST_SKIP() << "this system keeps no TIME_WAIT on loopback";
    // ...and Windows' rule still lets a new listener have it.
    const win::SOCKET again = loopback::listener(port);
    EXPECT_NE(again, win::INVALID_SOCKET) << win::WSAGetLastError();
    win::closesocket(again);
}

TEST_F(SocketCalls, PortWithAListenerIsInUseOnEveryAddress) {
    const struct {
        win::u_long listenOn;
        win::u_long bindTo;
    } cases[] = {{INADDR_ANY, 0x7f000001}, {0x7f000001, 0x7f000001}, {0x7f000001, INADDR_ANY}};
    for (const auto& c : cases) {
        const win::SOCKET server = loopback::listener(0, c.listenOn);
        ASSERT_NE(server, win::INVALID_SOCKET);
        const win::SOCKET second = win::socket(AF_INET, SOCK_STREAM, 0);
        const auto a = loopback::address(loopback::portOf(server), c.bindTo);
        EXPECT_EQ(win::bind(second, loopback::asSockaddr(a), sizeof a), win::SOCKET_ERROR);
        EXPECT_EQ(win::WSAGetLastError(), win::WSAEADDRINUSE) << std::hex << c.listenOn;
        win::closesocket(second);
        win::closesocket(server);
    }
}

TEST_F(SocketCalls, SecondStreamBindOfAPortFailsUnlessAskedToReuse) {
    const win::SOCKET first = loopback::bound(SOCK_STREAM);
    ASSERT_NE(first, win::INVALID_SOCKET);
    const auto a = loopback::address(loopback::portOf(first));
    const win::SOCKET second = win::socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(win::bind(second, loopback::asSockaddr(a), sizeof a), win::SOCKET_ERROR);
    EXPECT_EQ(win::WSAGetLastError(), win::WSAEADDRINUSE);
    const int on = 1;
    ASSERT_EQ(win::setsockopt(second, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on),
                              sizeof on),
              0);
    EXPECT_EQ(win::bind(second, loopback::asSockaddr(a), sizeof a), 0);
    win::closesocket(second);
    win::closesocket(first);
}

TEST_F(SocketCalls, SecondDatagramBindNeedsReuseAddressOnTheSecondSocketOnly) {
    for (const bool callerAsks : {false, true}) {
        const win::SOCKET first = loopback::bound(SOCK_DGRAM);
        ASSERT_NE(first, win::INVALID_SOCKET);
        const win::SOCKET second = win::socket(AF_INET, SOCK_DGRAM, 0);
        const int value = callerAsks ? 1 : 0;
        ASSERT_EQ(win::setsockopt(second, SOL_SOCKET, SO_REUSEADDR,
                                  reinterpret_cast<const char*>(&value), sizeof value),
                  0);
        const auto a = loopback::address(loopback::portOf(first));
        const int result = win::bind(second, loopback::asSockaddr(a), sizeof a);
        if (callerAsks) {
            EXPECT_EQ(result, 0) << win::WSAGetLastError();
        } else {
            EXPECT_EQ(result, win::SOCKET_ERROR);
            EXPECT_EQ(win::WSAGetLastError(), win::WSAEADDRINUSE);
        }
        // getsockopt answers with what the caller set, not the layer's own setting.
        for (const auto& [s, expected] : {std::pair{first, 0}, std::pair{second, value}}) {
            int got = -1;
            int len = sizeof got;
            ASSERT_EQ(win::getsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char*>(&got),
                                      &len),
                      0);
            EXPECT_EQ(got, expected);
        }
        win::closesocket(second);
        win::closesocket(first);
    }
}

TEST_F(SocketCalls, LongDatagramFailsWithMessageSizeAndIsConsumed) {
    for (const bool withAddress : {false, true}) {
        const win::SOCKET receiver = loopback::bound(SOCK_DGRAM);
        const win::SOCKET sender = win::socket(AF_INET, SOCK_DGRAM, 0);
        const auto to = loopback::address(loopback::portOf(receiver));
        const std::string longOne(100, 'L');
        ASSERT_EQ(win::sendto(sender, longOne.data(), int(longOne.size()), 0,
                              loopback::asSockaddr(to), sizeof to),
                  100);
        ASSERT_EQ(win::sendto(sender, "short", 5, 0, loopback::asSockaddr(to), sizeof to), 5);
        char buf[10] = {};
        win::sockaddr_in from{};
        int fromLen = sizeof from;
        auto receive = [&] {
            return withAddress
                       ? win::recvfrom(receiver, buf, sizeof buf, 0,
                                       reinterpret_cast<win::sockaddr*>(&from), &fromLen)
                       : win::recv(receiver, buf, sizeof buf, 0);
        };
        EXPECT_EQ(receive(), win::SOCKET_ERROR);
        EXPECT_EQ(win::WSAGetLastError(), win::WSAEMSGSIZE);
        EXPECT_EQ(std::string(buf, sizeof buf), std::string(10, 'L'));
        // The rest of the long datagram is gone: the next read is the next datagram.
        EXPECT_EQ(receive(), 5);
        EXPECT_EQ(std::string(buf, 5), "short");
        win::closesocket(sender);
        win::closesocket(receiver);
    }
}

TEST_F(SocketCalls, SendFailuresTellOwnShutdownFromPeerReset) {
    for (const bool peerResets : {false, true}) {
        const win::SOCKET server = loopback::listener();
        const win::SOCKET client = loopback::connected(loopback::portOf(server));
        const win::SOCKET served = win::accept(server, nullptr, nullptr);
        ASSERT_NE(served, win::INVALID_SOCKET);
        int expected = win::WSAESHUTDOWN;
        if (peerResets) {
            const linger abort{1, 0};
            ASSERT_EQ(win::setsockopt(served, SOL_SOCKET, SO_LINGER,
                                      reinterpret_cast<const char*>(&abort), sizeof abort),
                      0);
            win::closesocket(served);
            expected = win::WSAECONNRESET;
        } else {
            ASSERT_EQ(win::shutdown(client, SHUT_WR), 0);
        }
        // The first send after a reset may still be accepted; the failure must come
        // within a few and carry the right name.
        int result = 0;
        for (int i = 0; i < 50 && result != win::SOCKET_ERROR; ++i) {
            result = win::send(client, "x", 1, 0);
            if (result != win::SOCKET_ERROR) std::this_thread::sleep_for(10ms);
        }
        EXPECT_EQ(result, win::SOCKET_ERROR);
        EXPECT_EQ(win::WSAGetLastError(), expected) << (peerResets ? "reset" : "shutdown");
        win::closesocket(client);
        if (!peerResets) win::closesocket(served);
        win::closesocket(server);
    }
}

TEST_F(SocketCalls, ConnectToAClosedPortIsRefused) {
    // A bound socket that does not listen keeps the port from anyone else.
    const win::SOCKET holder = loopback::bound(SOCK_STREAM);
    const win::SOCKET client = win::socket(AF_INET, SOCK_STREAM, 0);
    const auto a = loopback::address(loopback::portOf(holder));
    EXPECT_EQ(win::connect(client, loopback::asSockaddr(a), sizeof a), win::SOCKET_ERROR);
    EXPECT_EQ(win::WSAGetLastError(), win::WSAECONNREFUSED);
    win::closesocket(client);
    win::closesocket(holder);
}

TEST_F(SocketCalls, CallsOnWhatIsNotASocketFailWithNotSocket) {
    const win::SOCKET s = win::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(win::closesocket(s), 0);
    char buf[4];
    const auto a = loopback::address(0);
    const struct {
        const char* call;
        int result;
    } cases[] = {
        {"closesocket", win::closesocket(s)},
        {"recv", win::recv(s, buf, sizeof buf, 0)},
        {"send", win::send(s, buf, sizeof buf, 0)},
        {"bind", win::bind(s, loopback::asSockaddr(a), sizeof a)},
        {"listen", win::listen(s, 1)},
        {"closesocket of INVALID_SOCKET", win::closesocket(win::INVALID_SOCKET)},
    };
    for (const auto& c : cases) EXPECT_EQ(c.result, win::SOCKET_ERROR) << c.call;
    EXPECT_EQ(win::closesocket(s), win::SOCKET_ERROR);
    EXPECT_EQ(win::WSAGetLastError(), win::WSAENOTSOCK);
}

TEST_F(SocketCalls, WindowsRefusesListenBeforeBindAndNameBeforeBind) {
    for (const int family : {AF_INET, AF_INET6}) {
        const win::SOCKET s = win::socket(family, SOCK_STREAM, 0);
        EXPECT_EQ(win::listen(s, 5), win::SOCKET_ERROR);
        EXPECT_EQ(win::WSAGetLastError(), win::WSAEINVAL);
        win::sockaddr_storage a{};
        int len = sizeof a;
        EXPECT_EQ(win::getsockname(s, reinterpret_cast<win::sockaddr*>(&a), &len),
                  win::SOCKET_ERROR);
        EXPECT_EQ(win::WSAGetLastError(), win::WSAEINVAL);
        win::closesocket(s);
    }
}

TEST_F(SocketCalls, SecondBindOfAPortCollidesOnlyWhereTheFamiliesMeet) {
    // "4" IPv4, "6" IPv6 (alone, as Windows has it by default), "d" IPv6 taking
    // IPv4 too; on every address "*" or loopback "l"; "r" the caller's SO_REUSEADDR.
    const auto bindAs = [](int type, const std::string& how, win::u_short port) {
        const win::SOCKET s = win::socket(how[0] == '4' ? AF_INET : AF_INET6, type, 0);
        const int off = 0, on = 1;
        if (how[0] == 'd') win::setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, (const char*)&off, 4);
        if (how.size() > 2) win::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, (const char*)&on, 4);
        const bool any = how[1] == '*';
        win::sockaddr_in6 v6{AF_INET6, win::htons(port), 0, any ? in6addr_any : in6addr_loopback,
                             0};
        const auto v4 = loopback::address(port, any ? INADDR_ANY : 0x7f000001);
        const bool ok = how[0] == '4' ? win::bind(s, loopback::asSockaddr(v4), sizeof v4) == 0
                                      : win::bind(s, (win::sockaddr*)&v6, sizeof v6) == 0;
        return std::pair{s, ok ? 0 : win::WSAGetLastError()};
    };
    const char* rows[][3] = {{"4*", "6*", ""},       {"6*", "4*", ""},       {"4l", "6l", ""},
                             {"6*", "6*", "in use"}, {"6*", "6l", "in use"}, {"6l", "6*", "in use"},
                             {"d*", "4l", "in use"}, {"4*", "d*", "in use"}, {"d*", "6*", "in use"},
                             {"6*", "6*r", ""}};
    for (const int type : {SOCK_STREAM, SOCK_DGRAM}) {
        for (const auto& [first, second, collides] : rows) {
            const auto [s1, e1] = bindAs(type, first, 0);
            win::sockaddr_in6 name{};
            int len = sizeof name;
            ASSERT_EQ(win::getsockname(s1, (win::sockaddr*)&name, &len) + e1, 0) << first;
            const auto [s2, e2] = bindAs(type, second, win::ntohs(name.sin6_port));
            EXPECT_EQ(e2, *collides ? win::WSAEADDRINUSE : 0) << type << first << second;
            win::closesocket(s2);
            win::closesocket(s1);
        }
    }
}

TEST_F(SocketCalls, IoctlReportsPendingBytesAndSwitchesBlocking) {
    const win::SOCKET receiver = loopback::bound(SOCK_DGRAM);
    const win::SOCKET sender = win::socket(AF_INET, SOCK_DGRAM, 0);
    win::u_long nonBlocking = 1;
    ASSERT_EQ(win::ioctlsocket(receiver, long(FIONBIO), &nonBlocking), 0);
    char buf[16];
    EXPECT_EQ(win::recv(receiver, buf, sizeof buf, 0), win::SOCKET_ERROR);
    EXPECT_EQ(win::WSAGetLastError(), win::WSAEWOULDBLOCK);

    const auto to = loopback::address(loopback::portOf(receiver));
    ASSERT_EQ(win::sendto(sender, "twelve bytes", 12, 0, loopback::asSockaddr(to), sizeof to), 12);
    win::u_long pending = 0;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (pending == 0 && std::chrono::steady_clock::now() < deadline) {
        ASSERT_EQ(win::ioctlsocket(receiver, long(FIONREAD), &pending), 0);
        if (pending == 0) std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(pending, 12u);
    EXPECT_EQ(win::ioctlsocket(receiver, 0x12345, &pending), win::SOCKET_ERROR);
    EXPECT_EQ(win::WSAGetLastError(), win::WSAEINVAL);
    win::closesocket(sender);
    win::closesocket(receiver);
}

} // namespace
