#include "platform/text.h"

#include <gtest/gtest.h>

TEST(FixedWidthText, CutPadAndTrimFollowTheFieldRules) {
    EXPECT_EQ(text::cut("abcdef", 3), "abc");
    EXPECT_EQ(text::cut("ab", 3), "ab");
    EXPECT_EQ(text::pad("ab", 4), "ab  ");
    EXPECT_EQ(text::pad("abcdef", 4), "abcd");
    EXPECT_EQ(text::trimRight("a b  "), "a b");
    EXPECT_EQ(text::trimRight("a\t"), "a\t"); // only the blank counts
    EXPECT_EQ(text::trimLeft("  a "), "a ");
    EXPECT_EQ(text::trimRight("   "), "");
}

TEST(FixedWidthText, LeadingDecimalTakesDigitsAfterBlanks) {
    struct Case {
        const char* in;
        std::uint64_t value;
    } cases[] = {{"80", 80},          {"  1456 x", 1456}, {"abc", 0},  {"", 0},
                 {"12ab34", 12},      {"-5", 0},          {"\t7", 0},  {"065535", 65535},
                 {"99999999999999999999999", UINT64_MAX}};
    for (const auto& c : cases) EXPECT_EQ(text::leadingDecimal(c.in), c.value) << c.in;
    EXPECT_EQ(text::leadingInteger(" -12x"), -12);
    EXPECT_EQ(text::leadingInteger("+3"), 3);
}

TEST(FixedWidthText, FixedRoundsAsPrintfDoes) {
    EXPECT_EQ(text::fixed(0.25, 1), "0.2"); // a tie goes to the even digit
    EXPECT_EQ(text::fixed(0.35, 1), "0.3"); // a little below the tie in binary
    EXPECT_EQ(text::fixed(-0.04, 1), "-0.0");
    EXPECT_EQ(text::fixed(1796708417.8415, 3), "1796708417.842");
}
