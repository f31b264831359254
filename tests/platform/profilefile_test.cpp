// The profile functions against what may stand in a settings file's place, and
// the grouped reads and writes.
#include "platform/profile.h"
#include "platform/regularfile.h"
#include "platform/scratchdir.h"
#include "support/filewatch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using testing_support::replacementsOf;

// Runs `fn` on its own thread; a call still blocked after the deadline is
// released by opening `fifo` for writing (so the test ends), and reported.
template <typename Fn> bool returnsPromptly(Fn fn, const std::string& fifo) {
    auto done = std::async(std::launch::async, fn);
    if (done.wait_for(10s) == std::future_status::ready) return true;
    const int release = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    done.wait();
    if (release >= 0) ::close(release);
    return false;
}

TEST(ProfileFile, APipeOrDeviceInTheFilesPlaceNeitherBlocksNorIsWritten) {
    struct Case {
        const char* what;
        void (*make)();
        bool writer; // a process holds the FIFO open and has written to it
    } cases[] = {
        {"a FIFO", [] { ::mkfifo("VARlo.INI", 0644); }, false},
        {"a FIFO with a writer", [] { ::mkfifo("VARlo.INI", 0644); }, true},
        {"a symbolic link to a FIFO",
         [] {
             ::mkfifo("pipe", 0644);
             ::symlink("pipe", "VARlo.INI");
         },
         false},
        {"a character device", [] { ::symlink("/dev/zero", "VARlo.INI"); }, false},
        {"a directory", [] { ::mkdir("VARlo.INI", 0755); }, false},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        c.make();
        int reader = -1, writer = -1;
        if (c.writer) {
            reader = ::open("VARlo.INI", O_RDONLY | O_NONBLOCK);
            writer = ::open("VARlo.INI", O_WRONLY | O_NONBLOCK);
            ASSERT_EQ(::write(writer, "[S]\nk=fifo\n", 11), 11);
        }
        char buf[64] = {};
        win::DWORD n = 0;
        EXPECT_TRUE(returnsPromptly(
            [&] {
                n = win::GetPrivateProfileStringA("S", "k", "default", buf, sizeof buf,
                                                  ".\\VARlo.INI");
            },
            "VARlo.INI"))
            << c.what;
        EXPECT_EQ(std::string(buf, n), "default") << c.what;
        win::BOOL written = 1;
        EXPECT_TRUE(returnsPromptly(
            [&] { written = win::WritePrivateProfileStringA("S", "k", "v", ".\\VarLO.ini"); },
            "VARlo.INI"))
            << c.what;
        EXPECT_FALSE(written) << c.what;
        struct stat st {};
        ASSERT_EQ(::lstat("VARlo.INI", &st), 0) << c.what;
        EXPECT_FALSE(S_ISREG(st.st_mode)) << c.what << ": left in its place";
        EXPECT_EQ(win::readRegularFile("VARlo.INI").status, win::RegularFile::Status::NotRegular)
            << c.what;
        for (int fd : {reader, writer})
            if (fd >= 0) ::close(fd);
    }
}

TEST(ProfileFile, RegularFilesAreReadUpToTheLimit) {
    ScratchDir dir;
    ScratchDir::write("f", std::string(100000, 'x'));
    ::chmod("f", 0640);
    const auto whole = win::readRegularFile("f");
    EXPECT_EQ(whole.status, win::RegularFile::Status::Read);
    EXPECT_EQ(whole.bytes.size(), 100000u);
    EXPECT_EQ(whole.mode, 0640u);
    EXPECT_EQ(win::readRegularFile("f", 10240).bytes.size(), 10240u);
    EXPECT_EQ(win::readRegularFile("missing").status, win::RegularFile::Status::Missing);
}

TEST(ProfileBatch, GroupedWritesAreOneReplacementAndReadBackAsSingleOnes) {
    ScratchDir dir;
    ScratchDir::write("test.ini", "[Keep]\nx=1\n[S]\nold=1\n");
    std::vector<win::ProfileWrite> writes;
    for (int i = 1; i <= 500; ++i)
        writes.push_back({"S", "k" + std::to_string(i), "v" + std::to_string(i)});
    writes.push_back({"S", "old", std::nullopt});
    writes.push_back({"Gone", std::nullopt, std::nullopt});
    EXPECT_EQ(
        replacementsOf("test.ini",
                       [&] { EXPECT_TRUE(win::WritePrivateProfileBatch(writes, "test.ini")); }),
        1);
    const auto values = win::GetPrivateProfileBatch("s", {"K1", "k500", "old", "none"},
                                                    {"", "", "gone", "dflt  "}, 64, "test.ini");
    EXPECT_EQ(values, (std::vector<std::string>{"v1", "v500", "gone", "dflt"}));
    EXPECT_EQ(ScratchDir::read("test.ini").substr(0, 20), "[Keep]\nx=1\n[S]\nk1=v1");

    // Nothing to change: no rewrite. A blank key: the whole group is refused.
    EXPECT_EQ(
        replacementsOf("test.ini",
                       [&] { EXPECT_TRUE(win::WritePrivateProfileBatch(writes, "test.ini")); }),
        0);
    const std::string before = ScratchDir::read("test.ini");
    EXPECT_FALSE(
        win::WritePrivateProfileBatch({{"S", "k1", "changed"}, {"S", " ", "x"}}, "test.ini"));
    EXPECT_EQ(ScratchDir::read("test.ini"), before);
}

} // namespace
