#include "platform/rulelines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct LinesCase {
    const char* name;
    std::string text;
    std::vector<std::string> lines;
};

class RuleLines : public ::testing::TestWithParam<LinesCase> {};

TEST_P(RuleLines, SplitAtCrPlusOneOrAtABareLf) {
    const auto got = text::ruleLines(GetParam().text);
    EXPECT_EQ(std::vector<std::string>(got.begin(), got.end()), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Files, RuleLines,
    ::testing::Values(LinesCase{"CrLf", "HREF=\r\nSRC=\r\n", {"HREF=", "SRC="}},
                      LinesCase{"Lf", "HREF=\nSRC=\n", {"HREF=", "SRC="}},
                      LinesCase{"LastLineWithoutEndingIsNoLine", "a\r\nb", {"a"}},
                      LinesCase{"LastLfLineWithoutEndingIsNoLine", "a\nb", {"a"}},
                      LinesCase{"BareCrTakesTheNextCharacter", "ab\rcd\r", {"ab", "d"}},
                      LinesCase{"FirstLineKeepsItsLeadingBlanksLaterOnesLoseThem",
                                "  a  \r\n  b  \r\n",
                                {"  a  ", "b  "}},
                      LinesCase{"BlanksAfterALineEndGo", "a\n\n   \nb\n", {"a", "", "", "b"}},
                      LinesCase{"EmptyFirstLineStays", "\r\na\r\n", {"", "a"}},
                      LinesCase{"LfThenCr", "a\n\rb\n", {"a", "", ""}},
                      LinesCase{"TabsAreNotBlanks", "\ta\t\n", {"\ta\t"}},
                      LinesCase{"Nothing", "", {}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
