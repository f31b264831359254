#include "platform/cp1250.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cwctype>
#include <iconv.h>
#include <locale.h>
#include <string>

namespace {

std::string allBytes() {
    std::string s(256, '\0');
    for (int i = 0; i < 256; ++i)
        s[i] = static_cast<char>(i);
    return s;
}

// glibc's converter is the reference for the assigned bytes.
std::string iconvToUtf8(char byte, bool& ok) {
    iconv_t cd = ::iconv_open("UTF-8", "CP1250");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        ok = false;
        return {};
    }
    char in[1] = {byte};
    char out[8] = {};
    char* inp = in;
    char* outp = out;
    std::size_t inLeft = 1;
    std::size_t outLeft = sizeof out;
    ok = ::iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<std::size_t>(-1);
    ::iconv_close(cd);
    return std::string(out, sizeof out - outLeft);
}

TEST(Cp1250, EveryByteConvertsAsTheSystemConverterDoes) {
    bool available = false;
    iconvToUtf8('A', available);
    if (!available) GTEST_SKIP() << "no CP1250 converter installed";
    int compared = 0;
    for (int b = 0; b < 256; ++b) {
        bool assigned = false;
        const std::string expected = iconvToUtf8(static_cast<char>(b), assigned);
        if (!assigned) {
            // Unassigned in the code page: the C1 control of the same number.
            EXPECT_EQ(cp1250::toUnicode(static_cast<char>(b)), static_cast<char32_t>(b)) << b;
            continue;
        }
        EXPECT_EQ(cp1250::toUtf8(std::string(1, static_cast<char>(b))), expected) << "byte " << b;
        ++compared;
    }
    EXPECT_EQ(compared, 251);
}

TEST(Cp1250, EveryByteSurvivesTheRoundTrip) {
    const std::string bytes = allBytes();
    EXPECT_EQ(cp1250::fromUtf8(cp1250::toUtf8(bytes)), bytes);
}

TEST(Cp1250, UnmappableOrMalformedUtf8BecomesQuestionMarks) {
    struct Case {
        std::string utf8;
        std::string expected;
    } cases[] = {
        {"\xc5\xa0kola \xc4\x8d\xc5\xbe", "\x8akola \xe8\x9e"}, // Škola čž
        {"\xe2\x82\xac 5", "\x80 5"},                           // €
        {"\xe6\x97\xa5\xe6\x9c\xac", "??"},                     // two CJK characters
        {"\xf0\x9f\x98\x80!", "?!"},                            // a four-byte emoji
        {"\xff", "?"},
        {"a\xc5", "a?"},         // cut short
        {"\xc0\xaf", "??"},      // overlong
        {"\xed\xa0\x80", "???"}, // a surrogate
        {"\xc5z", "?z"},         // a lead byte without its continuation
        {"\xc3\x9f", "\xdf"},    // ß
    };
    for (const auto& c : cases)
        EXPECT_EQ(cp1250::fromUtf8(c.utf8), c.expected) << c.utf8;
}

// The case pairs agree with Unicode's for every byte whose partner is in the page.
TEST(Cp1250, CasePairsFollowUnicode) {
    locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    if (!utf8) GTEST_SKIP() << "no C.UTF-8 locale";
    if (::towlower_l(0x160, utf8) != 0x161) {
        ::freelocale(utf8);
        GTEST_SKIP() << "the locale has no case mapping beyond ASCII";
    }
    auto byteOf = [](wint_t cp, char fallback) {
        for (int b = 0; b < 256; ++b)
            if (cp1250::toUnicode(static_cast<char>(b)) == static_cast<char32_t>(cp))
                return static_cast<char>(b);
        return fallback;
    };
    int pairs = 0;
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        const wint_t cp = cp1250::toUnicode(c);
        const char lower = byteOf(::towlower_l(cp, utf8), c);
        const char upper = byteOf(::towupper_l(cp, utf8), c);
        EXPECT_EQ(cp1250::lower(c), lower) << "byte " << b;
        EXPECT_EQ(cp1250::upper(c), upper) << "byte " << b;
        if (lower != c) ++pairs;
    }
    ::freelocale(utf8);
    EXPECT_EQ(pairs, 26 + 40);
}

TEST(Cp1250, StringsChangeCaseLetterByLetter) {
    struct Case {
        const char* upper;
        const char* lower;
    } cases[] = {
        {"\x8a\x8c\x8d\x8e\x8f", "\x9a\x9c\x9d\x9e\x9f"}, // ŠŚŤŽŹ
        {"\xa3\xa5\xaa\xaf\xbc", "\xb3\xb9\xba\xbf\xbe"}, // ŁĄŞŻĽ
        {"\xc8\xc6\xd0 ZAGREB 10", "\xe8\xe6\xf0 zagreb 10"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cp1250::toLower(c.upper), c.lower);
        EXPECT_EQ(cp1250::toUpper(c.lower), c.upper);
        EXPECT_TRUE(cp1250::equalNoCase(c.upper, c.lower));
    }
    EXPECT_EQ(cp1250::toUpper("\xdf\xb5\xd7\xf7"), "\xdf\xb5\xd7\xf7") << "ß µ × ÷ stay";
    EXPECT_FALSE(cp1250::equalNoCase("\x8a", "\x8b"));
    EXPECT_FALSE(cp1250::equalNoCase("ab", "abc"));
}

} // namespace
