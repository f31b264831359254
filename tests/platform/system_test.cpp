#include "platform/scratchdir.h"
#include "platform/system.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <optional>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <thread>

namespace {

using win::BOOL;
using win::DWORD;

// Sets or unsets environment variables for one test and puts them back after.
class EnvGuard {
public:
    void set(const char* name, const std::optional<std::string>& value) {
        if (m_saved.find(name) == m_saved.end()) {
            const char* old = std::getenv(name);
            m_saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~EnvGuard() {
        for (const auto& [name, value] : m_saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }

private:
    std::map<std::string, std::optional<std::string>> m_saved;
};

bool waitFor(const std::filesystem::path& file) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!std::filesystem::exists(file)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void writeScript(const std::filesystem::path& path, const std::string& body) {
    ScratchDir::write(path, "#!/bin/sh\nPATH=/usr/bin:/bin\n" + body);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

struct NameCall {
    const char* what;
    BOOL (*call)(char*, DWORD*);
    std::string expected;
    bool sizeCountsNul; // what *size says after a successful call
};

std::vector<NameCall> nameCalls() {
    const passwd* pw = ::getpwuid(::getuid());
    utsname uts{};
    ::uname(&uts);
    return {{"GetUserNameA", win::GetUserNameA, pw ? pw->pw_name : std::getenv("USER"), true},
            {"GetComputerNameA", win::GetComputerNameA, uts.nodename, false}};
}

TEST(SystemNames, FollowTheWindowsBufferRules) {
    for (const auto& c : nameCalls()) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.expected.empty());
        const auto needed = static_cast<DWORD>(c.expected.size() + 1);

        DWORD size = 0;
        EXPECT_FALSE(c.call(nullptr, &size)) << "no buffer";
        EXPECT_EQ(size, needed);

        std::vector<char> buf(needed + 8, '#');
        size = needed - 1;
        EXPECT_FALSE(c.call(buf.data(), &size)) << "one byte short";
        EXPECT_EQ(size, needed);

        size = needed;
        ASSERT_TRUE(c.call(buf.data(), &size)) << "exactly large enough";
        EXPECT_EQ(std::string(buf.data()), c.expected);
        EXPECT_EQ(size, c.sizeCountsNul ? needed : needed - 1);
        EXPECT_EQ(buf[needed], '#') << "nothing written past the name";

        EXPECT_FALSE(c.call(buf.data(), nullptr));
    }
}

TEST(SystemNames, UserNameFallsBackToTheEnvironment) {
    // The password database normally answers; the variables only matter without it,
    // so here they must not override it.
    EnvGuard env;
    env.set("USER", "somebody-else");
    char buf[128];
    DWORD size = sizeof buf;
    ASSERT_TRUE(win::GetUserNameA(buf, &size));
    EXPECT_EQ(std::string(buf), nameCalls()[0].expected);
}

TEST(SystemCurrentDirectory, IsTheDirectoryOfTheMoment) {
    ScratchDir dir;
    EXPECT_EQ(win::currentDirectory(), std::filesystem::current_path().string());
    std::filesystem::create_directory("sub");
    std::filesystem::current_path("sub");
    EXPECT_EQ(win::currentDirectory(), (dir.path() / "sub").string());
}

class StartEditor : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* var : {"VISUAL", "EDITOR"})
            m_env.set(var, std::nullopt);
        m_env.set("PATH", (m_dir.path() / "bin").string());
        std::filesystem::create_directory(m_dir.path() / "bin");
        m_target = (m_dir.path() / "notes.txt").string();
        ScratchDir::write(m_target, "text");
    }
    // A stand-in program that records its arguments and its open descriptors in
    // `marker`, writing it whole only at the end.
    std::string recorder(const char* name) {
        const auto path = m_dir.path() / "bin" / name;
        writeScript(path, "for a in \"$@\"; do echo \"arg:$a\"; done > \"" + marker() +
                              ".tmp\"\n"
                              "for f in /proc/$$/fd/*; do echo \"fd:$(readlink \"$f\")\"; done "
                              ">> \"" +
                              marker() + ".tmp\"\n" + "mv \"" + marker() + ".tmp\" \"" + marker() +
                              "\"\n");
        return path.string();
    }
    std::string marker() const { return (m_dir.path() / "marker").string(); }

    ScratchDir m_dir;
    EnvGuard m_env;
    std::string m_target;
};

TEST_F(StartEditor, RunsVisualOnTheFileWithoutHandingOnSockets) {
    // A socket deliberately not close-on-exec, well above the standard descriptors.
    const int first = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(first, 0);
    const int sock = ::fcntl(first, F_DUPFD, 40);
    ::close(first);
    ASSERT_GE(sock, 40);
    m_env.set("VISUAL", recorder("visual-editor") + " --wait");
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(win::startEditor(m_target));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5))
        << "returns without waiting for the editor";
    ASSERT_TRUE(waitFor(marker()));
    ::close(sock);
    const std::string seen = ScratchDir::read(marker());
    EXPECT_NE(seen.find("arg:--wait\narg:" + m_target + "\n"), std::string::npos) << seen;
    EXPECT_EQ(seen.find("socket:"), std::string::npos) << seen;
    // The editor was started detached: no child of ours is left to reap.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(StartEditor, RunsEditorInsideATerminal) {
    m_env.set("EDITOR", recorder("terminal-editor"));
    // The "terminal" runs what follows -e, as x-terminal-emulator does.
    writeScript(m_dir.path() / "bin" / "xterm", "[ \"$1\" = -e ] && shift && exec \"$@\"\n");
    ASSERT_TRUE(win::startEditor(m_target));
    ASSERT_TRUE(waitFor(marker()));
    EXPECT_NE(ScratchDir::read(marker()).find("arg:" + m_target + "\n"), std::string::npos);
}

TEST_F(StartEditor, FallsBackToXdgOpen) {
    m_env.set("EDITOR", recorder("terminal-editor")); // no terminal: cannot be used
    recorder("xdg-open");
    ASSERT_TRUE(win::startEditor(m_target));
    ASSERT_TRUE(waitFor(marker()));
    EXPECT_EQ(ScratchDir::read(marker()).find("arg:" + m_target + "\n"), 0u);
}

TEST_F(StartEditor, FailsWhenNothingCanBeStarted) {
    struct Case {
        const char* what;
        const char* path;
        std::optional<std::string> visual;
        std::optional<std::string> editor;
    } cases[] = {
        {"empty PATH, no editor variables", "", std::nullopt, std::nullopt},
        {"editor variables naming missing programs", "", "no-such-editor", "no-such-either"},
        {"a blank VISUAL", "", "  ", std::nullopt},
        {"an editor path that does not exist", "/nonexistent", "/nonexistent/editor", std::nullopt},
    };
    for (const auto& c : cases) {
        m_env.set("PATH", c.path);
        m_env.set("VISUAL", c.visual);
        m_env.set("EDITOR", c.editor);
        EXPECT_FALSE(win::startEditor(m_target)) << c.what;
    }
}

} // namespace
