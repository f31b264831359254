#include "settings/settingsfile.h"

#include "platform/profile.h"
#include "platform/scratchdir.h"

#include <gtest/gtest.h>

namespace {

const std::string Long(2000, 'x');

TEST(Settings, ArgumentsLoseTrailingBlanksAndAreCutToTheirLimits) {
    const std::string name63(63, 'n');
    struct Case {
        const char* what;
        std::string section, key, value;            // as written
        std::string readSection, readKey, expected; // as read back
    } cases[] = {
        {"trailing blanks go", "Ping Settings  ", "HostIP ", "10.0.0.1   ", "Ping Settings",
         "HostIP", "10.0.0.1"},
        {"blanks inside stay", "S", "k", "a  b  ", "S", "k", "a  b"},
        {"section and key cut to 63", name63 + "SECTION", name63 + "KEY", "v", name63, name63, "v"},
        {"a value cut to 1023", "S", "k", Long, "S", "k", Long.substr(0, 1023)},
        {"a blank at the cut is removed", "S", "k", std::string(1022, 'a') + "  b", "S", "k",
         std::string(1022, 'a')},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        WriteSetting(c.section, c.key, c.value);
        EXPECT_EQ(ReadSetting(c.readSection + "  ", c.readKey + " ", "missing"), c.expected)
            << c.what;
    }
}

TEST(Settings, TheFileHoldsTrimmedLinesInCrLf) {
    ScratchDir dir;
    WriteSetting("VARlo Settings ", "Sound ", "1  ");
    EXPECT_EQ(dir.files(), std::vector<std::string>{"VARlo.INI"});
    EXPECT_EQ(ScratchDir::read("VARlo.INI"), "[VARlo Settings]\r\nSound=1\r\n");
}

TEST(Settings, DefaultsAndResultsAreCut) {
    ScratchDir dir;
    EXPECT_EQ(ReadSetting("S", "k", "fallback   "), "fallback");
    EXPECT_EQ(ReadSetting("S", "k", Long), Long.substr(0, 1023));
    // A longer value put in the file by other means is still read as 1023 characters.
    ASSERT_TRUE(win::WritePrivateProfileStringA("S", "k", Long.c_str(), SettingsFile));
    EXPECT_EQ(ReadSetting("S", "k", ""), Long.substr(0, 1023));
}

TEST(Settings, TheFileNameIsCutTo259) {
    ScratchDir dir;
    const std::string folder(200, 'd');
    std::filesystem::create_directory(folder);
    // 200 + "\" + 58 = 259 characters are used; the rest of the name is not.
    const std::string base(58, 'f');
    WriteSetting("S", "k", "v", folder + "\\" + base + "IGNORED    ");
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(folder) / base));
    EXPECT_EQ(ReadSetting("S", "k", "", folder + "\\" + base), "v");
}

TEST(Settings, AFailedWriteIsIgnored) {
    ScratchDir dir;
    WriteSetting("S", "k", "v", ".\\missing\\VARlo.INI");
    EXPECT_EQ(ReadSetting("S", "k", "default", ".\\missing\\VARlo.INI"), "default");
    EXPECT_TRUE(dir.files().empty());
}

} // namespace
