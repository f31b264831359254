#include "net/socketaddress.h"

#include <gtest/gtest.h>

namespace {

// Every peer is written one way, whatever family its socket has.
TEST(SocketAddress, WritesPeersAsTheLogsDo) {
    struct Case {
        const char* typed;
        std::uint16_t port;
        const char* text;
        bool v6;
        bool loopback;
    } cases[] = {
        {"127.0.0.1", 41000, "127.0.0.1:41000", false, true},
        {" 2001:db8::5 ", 41000, "[2001:db8::5]:41000", true, false},
        {"[::1]", 80, "[::1]:80", true, true},
        {"::ffff:127.0.0.2", 7, "127.0.0.2:7", false, true},
        {"::ffff:198.18.0.1", 7, "198.18.0.1:7", false, false},
        {"2001:0db8:0000::0001", 1, "[2001:db8::1]:1", true, false},
    };
    for (const auto& c : cases) {
        const auto a = net::SocketAddress::fromText(c.typed, c.port);
        ASSERT_TRUE(a.valid()) << c.typed;
        EXPECT_EQ(a.text(), c.text);
        EXPECT_EQ(a.isV6(), c.v6) << c.typed;
        EXPECT_EQ(a.isLoopback(), c.loopback) << c.typed;
        // What accept or recvfrom hands back is written the same way.
        EXPECT_EQ(net::SocketAddress(a.data(), net::SocketAddress::capacity()).text(), c.text);
    }
    for (const char* bad : {"", "[127.0.0.1]", "localhost", "2001:db8::g", "1.2.3"})
        EXPECT_FALSE(net::SocketAddress::fromText(bad, 1).valid()) << bad;
    // Too short a length for its family is no address.
    const auto v6 = net::SocketAddress::fromText("::1", 1);
    EXPECT_FALSE(net::SocketAddress(v6.data(), int(sizeof(sockaddr_in))).valid());
    EXPECT_TRUE(net::SocketAddress::fromText("::ffff:10.0.0.1", 1)
                    .sameHost(net::SocketAddress::fromText("10.0.0.1", 2)));
}

} // namespace
