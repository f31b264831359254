#include "platform/scratchdir.h"
#include "platform/text.h"
#include "tools/blockers/portlist.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


using tools::PortList;
namespace portlist = tools::portlist;

namespace {

// A record as the test writes it: the fields without their padding.
struct Expected {
    std::string port;
    std::string description;
};

struct LoadCase {
    const char* name;
    std::string file;
    std::vector<Expected> records;
};

std::string longLine() {
    // 100 characters: "7," then 98 letters cycling a..z.
    std::string line = "7,";
    for (int i = 0; line.size() < 100; ++i)
        line += char('a' + i % 26);
    return line;
}

std::vector<LoadCase> loadCases() {
    const std::string line100 = longLine();
    return {
        {"TwoExampleLines", "80, Http\r\n1456, Custom\r\n", {{"80", "Http"}, {"1456", "Custom"}}},
        {"LastLineWithoutCrLfIsLost", "80, Http\r\n1456, Custom", {{"80", "Http"}}},
        {"DigitsOnlyGiveBothFields", "8080\r\n", {{"8080", "8080"}}},
        {"FurtherCommasBelongToTheDescription",
         "  21 ,  Ftp, control\r\n",
         {{"21 ", "Ftp, control"}}},
        {"FirstLineIsCutBeforeItsBlanksGo", "         345, x\r\n", {{"3", "x"}}},
        {"LaterLinesLoseTheirBlanksFirst",
         "1, a\r\n         345, x\r\n",
         {{"1", "a"}, {"345", "x"}}},
        {"BlankAndEmptyLinesAreSkipped",
         "1, a\r\n\r\n      \r\n2, b\r\n",
         {{"1", "a"}, {"2", "b"}}},
        {"OnlyTheFirst80CharactersAreSplit", line100 + "\r\n", {{"7", line100.substr(2, 40)}}},
        {"DescriptionEndsAtCharacter80",
         "1" + std::string(44, 'p') + "," + std::string(30, 'd') + "XYZWVUTSRQ\r\n",
         {{"1ppppppppp", std::string(30, 'd') + "XYZW"}}},
        {"CrOnlyLinesLoseTheirFirstCharacter",
         "80, Http\r1456, Custom\r2000, X\r",
         {{"80", "Http"}, {"456", "Custom"}, {"000", "X"}}},
        {"BareLineFeedsEndLinesAsAnEditorHereWritesThem",
         "80, Http\n1456, Custom\n",
         {{"80", "Http"}, {"1456", "Custom"}}},
        {"LineFeedFileKeepsTheFirstLinesBlanksAndLosesItsLastLine",
         "         345, x\n\n   \n  22, y\n23, z",
         {{"3", "x"}, {"22", "y"}}},
        {"MixedEndingsEachEndALine", "1, a\r\n2, b\n3, c\r\n", {{"1", "a"}, {"2", "b"}, {"3", "c"}}},
        {"LineFeedLinesAreCutAt80Too", line100 + "\n", {{"7", line100.substr(2, 40)}}},
        {"EmptyFileGivesNothing", "", {}},
        {"TextEndsAtTheFirstZeroByte", std::string("1, a\r\n2, b\0\r\n3, c\r\n", 18), {{"1", "a"}}},
        {"TabsAreTextNotBlanks", "\t\r\n5,\tx\r\n", {{"\t", "\t"}, {"5", "\tx"}}},
        {"LongPortTextIsCutTo10", "12345678901234, wide\r\n", {{"1234567890", "wide"}}},
        {"EmptyPortTextBeforeTheComma", ", only\r\n", {{"", "only"}}},
    };
}

class PortListLoad : public ::testing::TestWithParam<LoadCase> {};

TEST_P(PortListLoad, GivesTheRecordsPaddedToTheirWidths) {
    const LoadCase& c = GetParam();
    const PortList list = portlist::load(c.file);
    ASSERT_EQ(list.size(), c.records.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list[i].port, text::pad(c.records[i].port, 10)) << i;
        EXPECT_EQ(list[i].description, text::pad(c.records[i].description, 40)) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, PortListLoad, ::testing::ValuesIn(loadCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PortListFile, OnlyRecordsWhoseCrLiesWithinTheFirst10240BytesAreRead) {
    // 2,000 lines of "nnnn, x\r\n" (9 bytes): the CR of line k lies at 9k - 2.
    std::string file;
    for (int i = 1000; i < 3000; ++i)
        file += std::to_string(i) + ", x\r\n";
    const PortList list = portlist::load(file);
    std::size_t whole = 0;
    while (9 * (whole + 1) - 2 < 10240)
        ++whole;
    ASSERT_EQ(list.size(), whole);
    EXPECT_EQ(text::trimRight(list.back().port), std::to_string(1000 + whole - 1));
}

TEST(PortListFile, ReadGivesAtMost10240BytesAndNothingForAMissingFile) {
    ScratchDir dir;
    ScratchDir::write("Varlo.tcp", std::string(20000, 'x'));
    EXPECT_EQ(portlist::readFile(portlist::path("Varlo.tcp")).size(), 10240u);
    EXPECT_EQ(portlist::readFile(portlist::path("Varlo.udp")), "");
    EXPECT_EQ(portlist::path("Varlo.tcp"), dir.path().string() + "/Varlo.tcp");
}

TEST(PortListFile, PortValueTakesLeadingDigitsWithoutCuttingTo16Bits) {
    const struct {
        const char* port;
        std::uint64_t value;
    } cases[] = {{"80", 80}, {"  443x", 443},  {"http", 0},
                 {"", 0},    {"70000", 70000}, {"9999999999", 9999999999ull},
                 {"-5", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(portlist::portValue({text::pad(c.port, 10), ""}), c.value) << c.port;
}

// A FIFO in the list's place, even one with a writer, is no list: it is not read
// (nor waited on).
TEST(PortListFile, APipeInTheFilesPlaceGivesNothing) {
    ScratchDir dir;
    ASSERT_EQ(::mkfifo("Varlo.tcp", 0644), 0);
    const int reader = ::open("Varlo.tcp", O_RDONLY | O_NONBLOCK);
    const int writer = ::open("Varlo.tcp", O_WRONLY | O_NONBLOCK);
    ASSERT_EQ(::write(writer, "80, http\r\n", 10), 10);
    EXPECT_EQ(portlist::readFile(portlist::path("Varlo.tcp")), "");
    ::close(writer);
    ::close(reader);
}

} // namespace
