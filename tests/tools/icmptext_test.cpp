#include "tools/icmp/dottedaddress.h"
#include "tools/icmp/icmpstatustext.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace {

// The address as the bytes it puts on the wire.
std::array<int, 4> bytesOf(std::uint32_t address) {
    unsigned char b[4];
    std::memcpy(b, &address, 4);
    return {b[0], b[1], b[2], b[3]};
}

} // namespace

TEST(ParseDottedAddress, ReadsTheTextAsTheWindowsProgramDid) {
    struct Case {
        const char* text;
        std::array<int, 4> bytes; // all 0: not an address
    };
    const Case cases[] = {
        {"127.0.0.1", {127, 0, 0, 1}},
        {"198.18.3.2", {198, 18, 3, 2}},
        {"10.0.0", {0, 0, 0, 0}},
        {"1.2.3.4.5", {0, 0, 0, 0}},
        {"1.2.3.4.", {0, 0, 0, 0}},
        {"0.0.0.0", {0, 0, 0, 0}},
        {"", {0, 0, 0, 0}},
        {"localhost", {0, 0, 0, 0}},
        // Values above 255 carry into the next byte, and the top one is dropped.
        {"1.256.0.0", {1, 0, 1, 0}},
        {"1.2.3.256", {1, 2, 3, 0}},
        {"300.0.0.1", {44, 1, 0, 1}},
        // Leading blanks are skipped; a part ends at its first non-digit.
        {" 10. 1.2x.3", {10, 1, 2, 3}},
        {"a.b.c.1", {0, 0, 0, 1}},
        {"..1.", {0, 0, 1, 0}},
        // Parts are cut to 9 characters: the tenth digit is not read.
        {"1.2.3.0000000045", {1, 2, 3, 4}},
        {"010.000.000.0019999", {10, 0, 0, 31}},
        // Four dots within the first 19 characters.
        {"192.168.100.100.999", {0, 0, 0, 0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(bytesOf(tools::ParseDottedAddress(c.text)), c.bytes) << '"' << c.text << '"';
}

TEST(ParseDottedAddress, ATextOf25CharactersIsReadUpToItsNineteenth) {
    // What follows the 19th character would make either text something else.
    const std::string fourParts = "10.20.30.40" + std::string(8, ' ') + ".50.60";
    const std::string threeParts = "1.2.3" + std::string(14, ' ') + ".4    ";
    ASSERT_EQ(fourParts.size(), 25u);
    ASSERT_EQ(threeParts.size(), 25u);
    EXPECT_EQ(bytesOf(tools::ParseDottedAddress(fourParts)), (std::array<int, 4>{10, 20, 30, 40}));
    EXPECT_EQ(tools::ParseDottedAddress(threeParts), 0u);
}

TEST(AddressText, WritesTheBytesInWireOrderWithoutLeadingZeros) {
    for (const char* text : {"127.0.0.1", "198.18.1.1", "255.255.255.255", "0.0.0.1"})
        EXPECT_EQ(tools::AddressText(tools::ParseDottedAddress(text)), text);
}

TEST(IcmpStatusText, CodeThreeBlanksAndTheNameInBrackets) {
    struct Case {
        std::uint32_t code;
        const char* text;
    };
    const Case cases[] = {
        {0, "0   [ ip success ]"},
        {11001, "11001   [ ip buf too_small ]"},
        {11003, "11003   [ ip dest host unreachable ]"},
        {11010, "11010   [ ip req timed out ]"},
        {11013, "11013   [ ip ttl expired transit ]"},
        {11023, "11023   [ ip addr added ]"},
        {11050, "11050   [ ip general failure ]"},
        {11255, "11255   [ ip pending ]"},
        {200, "200   [ ping timeout ]"},
        {42, "42   [ unknown  msg returned ]"},
        {11024, "11024   [ unknown  msg returned ]"},
        {4294967295u, "4294967295   [ unknown  msg returned ]"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tools::IcmpStatusText(c.code), c.text) << c.code;
    // The callers keep 39 characters: the longest names lose their bracket.
    EXPECT_EQ(tools::IcmpStatusText(11003).substr(0, 39), "11003   [ ip dest host unreachable ]");
    EXPECT_EQ(tools::IcmpStatusText(11004).substr(0, 39), "11004   [ ip dest prot unreachable ]");
}
