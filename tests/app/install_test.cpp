#include "app/program.h"
#include "platform/scratchdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// Runs a command to its end; its exit status, its output joined to `output`.
int runCommand(const std::string& command, std::string& output) {
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return -1;
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, pipe)) output.append(buf, n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::map<std::string, std::string> desktopEntry(const fs::path& file) {
    std::map<std::string, std::string> keys;
    std::istringstream in(ScratchDir::read(file));
    for (std::string line; std::getline(in, line);)
        if (const auto eq = line.find('='); eq != std::string::npos && line[0] != '[')
            keys[line.substr(0, eq)] = line.substr(eq + 1);
    return keys;
}

// An installed copy, in a prefix of its own, that works from any directory.
struct Installed : ::testing::Test {
    ScratchDir dir;
    fs::path prefix = dir.path() / "usr";
    std::string log;

    void SetUp() override {
        ASSERT_EQ(runCommand(std::string("'") + WS_CMAKE_COMMAND + "' --install '" + WS_BINARY_DIR +
                                 "' --prefix '" + prefix.string() + "'",
                             log),
                  0)
            << log;
    }
};

TEST_F(Installed, PutsTheProgramItsIconDesktopEntrySoundsHelpAndExamplesInTheUsualPlaces) {
    EXPECT_TRUE(fs::is_regular_file(prefix / "bin/wstoolbox"));
    EXPECT_NE(fs::status(prefix / "bin/wstoolbox").permissions() & fs::perms::owner_exec,
              fs::perms::none);
    const std::string icon =
        ScratchDir::read(prefix / "share/icons/hicolor/scalable/apps/wstoolbox.svg");
    EXPECT_NE(icon.find("<svg"), std::string::npos);
    for (const char* sound : {"Error.wav", "Problem.wav", "Alarm.wav", "Click.wav", "Punch.wav"})
        EXPECT_EQ(ScratchDir::read(prefix / "share/wstoolbox/sounds" / sound).substr(0, 4), "RIFF")
            << sound;
    EXPECT_NE(ScratchDir::read(prefix / "share/wstoolbox/help/contents.html").find("<title>"),
              std::string::npos);
    for (const char* example : {"Varlo.tcp", "Varlo.udp", "Varlo.stp", "Varlo.omt"})
        EXPECT_TRUE(fs::is_regular_file(prefix / "share/doc/wstoolbox/examples" / example))
            << example;

    const fs::path entry = prefix / "share/applications/wstoolbox.desktop";
    auto keys = desktopEntry(entry);
    EXPECT_EQ(keys["Type"], "Application");
    EXPECT_EQ(keys["Name"], "WS toolbox");
    EXPECT_FALSE(keys["Comment"].empty());
    EXPECT_EQ(keys["Categories"], "Network;Utility;");
    EXPECT_EQ(keys["Exec"], "wstoolbox");
    EXPECT_EQ(keys["Icon"], "wstoolbox");
    std::string validated;
    if (runCommand("command -v desktop-file-validate", validated) == 0) {
        std::string report;
        EXPECT_EQ(runCommand("desktop-file-validate '" + entry.string() + "'", report), 0)
            << report;
        EXPECT_EQ(report.find("error"), std::string::npos) << report;
    }
}

TEST_F(Installed, RunsFromAnyDirectoryKeepingItsSettingsThere) {
    fs::create_directory(dir.path() / "work");
    fs::current_path(dir.path() / "work");
    std::string out;
    const std::string program = (prefix / "bin/wstoolbox").string();
    EXPECT_EQ(runCommand("echo quit | '" + program + "' --headless --script -", out), 0) << out;
    EXPECT_NE(out.find("MainWS#1 closed"), std::string::npos) << out;
    EXPECT_NE(ScratchDir::read(dir.path() / "work/VARlo.INI").find("[VARlo Settings]"),
              std::string::npos);
}

} // namespace
