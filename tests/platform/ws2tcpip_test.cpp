#include "platform/ws2tcpip.h"
#include "socketstest.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
#include <string>

namespace {

using win::DWORD;

// What Windows writes for an address, and how it refuses what it cannot write.
TEST(Ws2tcpip, AddressToStringWritesBothFamiliesAsWindowsDoes) {
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(41000);
    ::inet_pton(AF_INET, "127.0.0.1", &v4.sin_addr);
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    ::inet_pton(AF_INET6, "2001:db8::5", &v6.sin6_addr);
    sockaddr_in6 scoped = v6;
    scoped.sin6_port = htons(80);
    scoped.sin6_scope_id = 3;
    struct Case {
        const sockaddr* address;
        DWORD length;
        const char* text;
    } cases[] = {
        {reinterpret_cast<sockaddr*>(&v4), sizeof v4, "127.0.0.1:41000"},
        {reinterpret_cast<sockaddr*>(&v6), sizeof v6, "2001:db8::5"},
        {reinterpret_cast<sockaddr*>(&scoped), sizeof scoped, "[2001:db8::5%3]:80"},
    };
    for (const auto& c : cases) {
        char out[win::INET6_ADDRSTRLEN_WS];
        DWORD length = sizeof out;
        ASSERT_EQ(win::WSAAddressToStringA(c.address, c.length, nullptr, out, &length), 0);
        EXPECT_STREQ(out, c.text);
        EXPECT_EQ(length, std::strlen(c.text) + 1);
        // One byte short: refused, and told the length it needs.
        DWORD shortLength = length - 1;
        EXPECT_EQ(win::WSAAddressToStringA(c.address, c.length, nullptr, out, &shortLength),
                  win::SOCKET_ERROR);
        EXPECT_EQ(win::WSAGetLastError(), win::WSAEFAULT);
        EXPECT_EQ(shortLength, length);
    }
    char out[64];
    DWORD length = sizeof out;
    EXPECT_EQ(win::WSAAddressToStringA(reinterpret_cast<sockaddr*>(&v6), sizeof v4, nullptr, out,
                                       &length),
              win::SOCKET_ERROR);
    EXPECT_EQ(win::WSAGetLastError(), win::WSAEINVAL);
}

TEST(Ws2tcpip, TextAndLookupCallsKeepWindowsContracts) {
    in6_addr v6{};
    EXPECT_EQ(win::inet_pton(AF_INET6, "::1", &v6), 1);
    EXPECT_EQ(win::inet_pton(AF_INET6, "127.0.0.1", &v6), 0);
    EXPECT_EQ(win::inet_pton(AF_UNIX, "::1", &v6), win::SOCKET_ERROR);
    EXPECT_EQ(win::WSAGetLastError(), win::WSAEAFNOSUPPORT);
    char small[3]; // "::1" needs 4
    EXPECT_EQ(win::inet_ntop(AF_INET6, &v6, small, sizeof small), nullptr);
    EXPECT_EQ(win::WSAGetLastError(), win::WSAEINVAL);

    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    ASSERT_EQ(win::getaddrinfo("::1", "80", &hints, &list), 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->ai_family, AF_INET6);
    win::freeaddrinfo(list);
    EXPECT_EQ(win::getaddrinfo("not an address", nullptr, &hints, &list), win::WSAHOST_NOT_FOUND);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(win::getaddrinfo("::1", "no-such-service-here", nullptr, &list),
              win::WSATYPE_NOT_FOUND);
    EXPECT_EQ(win::WSAGetLastError(), win::WSATYPE_NOT_FOUND);
}

} // namespace
