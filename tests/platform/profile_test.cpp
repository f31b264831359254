#include "platform/profile.h"
#include "platform/scratchdir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

using namespace std::string_literals;
using win::DWORD;

namespace {

constexpr const char* File = ".\\test.ini";

std::string get(const char* section, const char* key, const char* def, DWORD size = 256,
                const char* file = File) {
    std::vector<char> buf(size + 1, '#');
    const DWORD n = win::GetPrivateProfileStringA(section, key, def, buf.data(), size, file);
    EXPECT_EQ(buf[n], '\0') << "the result is NUL-terminated";
    return std::string(buf.data(), n);
}

// The whole buffer of a NUL-separated list.
std::string getList(const char* section, DWORD size, DWORD* count = nullptr) {
    std::vector<char> buf(size, '#');
    const DWORD n = win::GetPrivateProfileStringA(section, nullptr, "dflt", buf.data(), size, File);
    if (count) *count = n;
    return std::string(buf.data(), size);
}

bool put(const char* section, const char* key, const char* value, const char* file = File) {
    return win::WritePrivateProfileStringA(section, key, value, file) != 0;
}

TEST(ProfileRead, FollowsTheWindowsRules) {
    struct Case {
        const char* rule;
        std::string content;
        const char* section;
        const char* key;
        const char* def;
        std::string expected;
    } cases[] = {
        {"names compare without case", "[Ping Settings]\r\nHostIP=10.0.0.1\r\n", "ping SETTINGS",
         "hostip", "", "10.0.0.1"},
        {"Windows-1250 letters compare without case", "[\x8A\xC8]\nk=1\n", "\x9A\xE8", "K", "",
         "1"},
        {"blanks and tabs around names and values", "  [ S ]  \n \t key \t=  v a l \t \n", "S",
         "key", "", "v a l"},
        {"blanks around the names asked for", "[S]\nkey=1\n", "  S ", " key\t", "", "1"},
        {"the first of duplicate keys", "[S]\nk=1\nk=2\n", "S", "k", "", "1"},
        {"the first of duplicate sections", "[S]\nk=1\n[T]\n[s]\nk=2\nj=3\n", "S", "k", "", "1"},
        {"keys of a later duplicate section are not seen", "[S]\nk=1\n[s]\nj=3\n", "S", "j", "d",
         "d"},
        {"a key of another section", "[S]\nk=1\n[T]\nx=2\n", "T", "k", "d", "d"},
        {"missing section", "[S]\nk=1\n", "X", "k", "def", "def"},
        {"missing key", "[S]\nk=1\n", "S", "x", "def", "def"},
        {"the default loses its trailing blanks", "", "S", "k", "a b  ", "a b"},
        {"only trailing blanks of the default", "", "S", "k", "  a\t ", "  a\t"},
        {"NULL default is empty", "", "S", "k", nullptr, ""},
        {"an empty value is a value", "[S]\nk=\n", "S", "k", "def", ""},
        {"split at the first =", "[S]\nurl = a=b=c \n", "S", "url", "", "a=b=c"},
        {"double quotes removed", "[S]\nk=\"quoted text\"\n", "S", "k", "", "quoted text"},
        {"single quotes removed", "[S]\nk= 'q' \n", "S", "k", "", "q"},
        {"quotes inside kept", "[S]\nk=\"a\" b \"c\"\n", "S", "k", "", "a\" b \"c"},
        {"unmatched quotes kept", "[S]\nk=\"a'\n", "S", "k", "", "\"a'"},
        {"a lone quote kept", "[S]\nk=\"\n", "S", "k", "", "\""},
        {"quotes of the default kept", "", "S", "k", "\"d\"", "\"d\""},
        {"LF lines", "[S]\nk=1\nj=2", "S", "j", "", "2"},
        {"CR LF lines", "[S]\r\nk=1\r\nj=2\r\n", "S", "k", "", "1"},
        {"lines before any section belong to none", "k=1\n[S]\n", "S", "k", "d", "d"},
        {"a comment is no key", "[S]\n;k=1\n", "S", ";k", "d", "d"},
        {"a key without = is no key", "[S]\nk\n", "S", "k", "d", "d"},
        {"a section header needs its ]", "[S]\n[T\nk=1\n", "S", "k", "", "1"},
        {"an unclosed header opens nothing", "[S]\n[T\nk=1\n", "T", "k", "d", "d"},
        {"text after ] is ignored", "[S] ; note\nk=1\n", "S", "k", "", "1"},
        {"a value ends at a NUL byte", "[S]\nk=ab\0cd\n"s, "S", "k", "", "ab"},
        {"binary bytes in a value", "[S]\nk=\x01\xff\x80\n", "S", "k", "", "\x01\xff\x80"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        if (!c.content.empty()) ScratchDir::write("test.ini", c.content);
        EXPECT_EQ(get(c.section, c.key, c.def), c.expected) << c.rule;
    }
}

TEST(ProfileRead, CutsTheResultToTheBuffer) {
    ScratchDir dir;
    ScratchDir::write("test.ini", "[S]\nk=abcdef\n");
    struct Case {
        const char* key;
        const char* def;
        DWORD size;
        std::string expected;
    } cases[] = {{"k", "", 4, "abc"},
                 {"k", "", 7, "abcdef"},
                 {"k", "", 1, ""},
                 {"x", "xyz", 3, "xy"},
                 {"x", "xyz", 4, "xyz"}};
    for (const auto& c : cases)
        EXPECT_EQ(get("S", c.key, c.def, c.size), c.expected) << c.key << " size " << c.size;

    char untouched[2] = {'#', '#'};
    EXPECT_EQ(win::GetPrivateProfileStringA("S", "k", "", untouched, 0, File), 0u);
    EXPECT_EQ(untouched[0], '#') << "a zero-sized buffer is not written";
}

TEST(ProfileRead, ListsSectionsAndKeys) {
    ScratchDir dir;
    ScratchDir::write("test.ini", "top=1\n[A]\na1=1\n;comment=2\nnoequals\n A2 = 2 \n"
                                  "[bb]\n[C]\nc=3\n[a]\nhidden=4\n");
    struct Case {
        const char* section;
        DWORD size;
        std::string expected; // with the terminating NUL(s)
        DWORD count;
    } cases[] = {
        {nullptr, 100, "A\0bb\0C\0a\0\0"s, 9},
        {"a", 100, "a1\0A2\0\0"s, 6}, // comments, lines without = and the duplicate skipped
        {"bb", 100, "dflt\0"s, 4},    // an empty section gives the default
        {"none", 100, "dflt\0"s, 4},
        // Cut short: the last name is cut and two NULs end the buffer; size - 2 returned.
        {nullptr, 5, "A\0b\0\0"s, 3},
        {"A", 6, "a1\0A\0\0"s, 4},
        {nullptr, 2, "\0\0"s, 0},
        // A name that leaves exactly one byte: the next one gets no room at all.
        {nullptr, 3, "A\0\0"s, 1},
        {"A", 4, "a1\0\0"s, 2},
    };
    for (const auto& c : cases) {
        DWORD n = 0;
        const std::string got = getList(c.section, c.size, &n);
        EXPECT_EQ(n, c.count) << (c.section ? c.section : "(sections)") << " size " << c.size;
        EXPECT_EQ(got.substr(0, c.expected.size()), c.expected)
            << (c.section ? c.section : "(sections)") << " size " << c.size;
    }
}

TEST(ProfileWrite, EditsOnlyTheLinesItMust) {
    enum Op { Set, DeleteKey, DeleteSection };
    struct Case {
        const char* rule;
        std::string before;
        Op op;
        const char* section;
        const char* key;
        const char* value;
        std::string after;
    } cases[] = {
        {"a new file", "", Set, "S", "k", "v", "[S]\r\nk=v\r\n"},
        {"a new key follows the section's last entry", "[S]\nold=1\n\n[T]\nx=1\n", Set, "s", "new",
         "2", "[S]\nold=1\nnew=2\r\n\n[T]\nx=1\n"},
        {"a changed key keeps its spelling", "[S]\r\n  KeY = old \r\nz=1\r\n", Set, "S", "key",
         "new", "[S]\r\nKeY=new\r\nz=1\r\n"},
        {"names are written without blanks around them", "", Set, " S ", "\tk ", "v",
         "[S]\r\nk=v\r\n"},
        {"a new section goes at the end", "[S]\nk=1\n", Set, "T", "x", "2",
         "[S]\nk=1\n[T]\r\nx=2\r\n"},
        {"no final newline, new key", "[S]\nk=1", Set, "S", "j", "2", "[S]\nk=1\r\nj=2\r\n"},
        {"no final newline, new section", "[S]\nk=1", Set, "T", "j", "2",
         "[S]\nk=1\r\n[T]\r\nj=2\r\n"},
        {"the first of duplicate sections is written", "[S]\nk=1\n[S]\nk=2\n", Set, "S", "k", "3",
         "[S]\nk=3\r\n[S]\nk=2\n"},
        {"a value is stored up to a line break", "", Set, "S", "k", "a\r\n[X]\r\ny=1",
         "[S]\r\nk=a\r\n"},
        {"the same value writes nothing", "[S]\nk = 1 \n", Set, "S", "k", "1", "[S]\nk = 1 \n"},
        {"NULL value deletes the key", "[S]\nk=1\nj=2\n", DeleteKey, "S", "K", nullptr,
         "[S]\nj=2\n"},
        {"NULL key deletes the section", "[A]\na=1\n[S]\nk=1\n;c\n\n[B]\nb=1\n", DeleteSection, "s",
         nullptr, nullptr, "[A]\na=1\n[B]\nb=1\n"},
        {"deleting what is not there changes nothing", "[S]\nk=1", DeleteKey, "S", "x", nullptr,
         "[S]\nk=1"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        if (!c.before.empty()) ScratchDir::write("test.ini", c.before);
        EXPECT_TRUE(put(c.section, c.key, c.value)) << c.rule;
        EXPECT_EQ(ScratchDir::read("test.ini"), c.after) << c.rule;
    }
}

TEST(ProfileWrite, DeletingFromAMissingFileCreatesNothing) {
    ScratchDir dir;
    EXPECT_TRUE(put("S", "k", nullptr));
    EXPECT_TRUE(put("S", nullptr, nullptr));
    EXPECT_TRUE(dir.files().empty());
    EXPECT_FALSE(put(nullptr, nullptr, nullptr)) << "Windows' cache flush says FALSE";
}

// Whatever a file holds, a write changes only the line it edits and a read gives
// what Windows would; the damaged lines stay byte for byte.
TEST(ProfileWrite, KeepsDamagedLinesIntact) {
    const std::string hundredK(100 * 1024, 'x');
    const std::string garbage = "\x01\x02\xff\xfe garbage ]]] [[[\n"s + "nul\0bytes\0here=1\n"s +
                                "[broken section\n" + "key without equals\n" + ";comment=1\n" +
                                "long=" + hundredK + "\n" + "\r\n" + "===\n" + "\x80\x81=\x82\n";
    const std::string before = garbage + "[S]\r\n" + garbage + "k=v\r\n" + garbage + "[T]\n" +
                               garbage + "t=1"; // no final newline
    ScratchDir dir;
    ScratchDir::write("test.ini", before);

    EXPECT_EQ(get("S", "k", ""), "v");
    EXPECT_EQ(get("S", "long", "", 200 * 1024), hundredK);
    EXPECT_EQ(get("S", "broken section", "d"), "d");
    EXPECT_EQ(get("broken section", "k", "d"), "d");
    EXPECT_EQ(get("S", "\x80\x81", ""), "\x82");
    EXPECT_EQ(get("T", "t", ""), "1");

    ASSERT_TRUE(put("S", "k", "w"));
    std::string expected = before;
    expected.replace(expected.find("k=v\r\n"), 5, "k=w\r\n");
    EXPECT_EQ(ScratchDir::read("test.ini"), expected);

    ASSERT_TRUE(put("T", "new", "2"));
    expected += "\r\nnew=2\r\n";
    EXPECT_EQ(ScratchDir::read("test.ini"), expected);

    ASSERT_TRUE(put("S", "k", nullptr));
    expected.erase(expected.find("k=w\r\n"), 5);
    EXPECT_EQ(ScratchDir::read("test.ini"), expected);
}

// Random bytes: reads survive, and a new section is appended after the old text,
// which stays as it was.
TEST(ProfileWrite, RandomFilesSurviveReadsAndWrites) {
    std::mt19937 random(1250);
    const char alphabet[] = "[]=;\"' \t\r\n\0abcS\x8a\xff";
    for (int round = 0; round < 200; ++round) {
        std::string before(random() % 300, '\0');
        for (char& c : before)
            c = random() % 4 ? alphabet[random() % sizeof alphabet] : random();
        ScratchDir dir;
        ScratchDir::write("test.ini", before);
        get("S", "a", "d");
        getList(nullptr, 64);
        getList("S", 64);
        ASSERT_TRUE(put("Fresh Section", "k", "v"));
        const std::string after = ScratchDir::read("test.ini");
        ASSERT_EQ(after.substr(0, before.size()), before) << "round " << round;
        const bool ended = before.empty() || before.back() == '\n';
        EXPECT_EQ(after.substr(before.size()),
                  std::string(ended ? "" : "\r\n") + "[Fresh Section]\r\nk=v\r\n");
        EXPECT_EQ(get("fresh section", "K", "d"), "v");
    }
}

TEST(ProfileFileName, EverySpellingOfTheSettingsFileIsOneFile) {
    ScratchDir dir;
    ASSERT_TRUE(put("A", "a", "1", ".\\VarLO.ini"));
    ASSERT_TRUE(put("B", "b", "2", ".\\VARlo.ini"));
    ASSERT_TRUE(put("C", "c", "3", ".\\VARlo.INI"));
    EXPECT_EQ(dir.files(), std::vector<std::string>{"VARlo.INI"});
    for (const char* spelling : {".\\VarLO.ini", ".\\VARlo.ini", ".\\VARlo.INI", "varlo.ini"})
        EXPECT_EQ(get("A", "a", "", 8, spelling) + get("B", "b", "", 8, spelling) +
                      get("C", "c", "", 8, spelling),
                  "123")
            << spelling;
}

TEST(ProfileFileName, AnExistingFileIsFoundWithoutCase) {
    struct Case {
        std::vector<std::string> existing;
        const char* name;
        std::vector<std::string> afterWrite;
        const char* written; // the file that got the write
    } cases[] = {
        {{}, ".\\Tavik6.Ini", {"Tavik6.Ini"}, "Tavik6.Ini"},
        {{"varlo.ini"}, ".\\VARlo.INI", {"varlo.ini"}, "varlo.ini"},
        {{"TAVIK6.INI"}, ".\\Tavik6.ini", {"TAVIK6.INI"}, "TAVIK6.INI"},
        {{"a.ini", "A.INI"}, ".\\A.ini", {"A.INI", "a.ini"}, "A.INI"},
        {{"a.ini", "A.INI"}, ".\\a.ini", {"A.INI", "a.ini"}, "a.ini"},
        {{"varlo.ini", "VARlo.INI"}, ".\\VarLO.ini", {"VARlo.INI", "varlo.ini"}, "VARlo.INI"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        for (const auto& f : c.existing)
            ScratchDir::write(f, "");
        ASSERT_TRUE(put("S", "k", "1", c.name)) << c.name;
        EXPECT_EQ(dir.files(), c.afterWrite) << c.name;
        EXPECT_EQ(ScratchDir::read(c.written), "[S]\r\nk=1\r\n") << c.name;
    }
}

TEST(ProfileFileName, FollowsTheCurrentDirectoryAndBackslashes) {
    ScratchDir dir;
    std::filesystem::create_directories("one/two");
    ASSERT_TRUE(put("S", "k", "top"));
    ASSERT_TRUE(put("S", "k", "nested", ".\\one\\two\\test.ini"));
    std::filesystem::current_path("one");
    EXPECT_EQ(get("S", "k", "none"), "none") << ".\\ is the directory of the moment";
    EXPECT_EQ(get("S", "k", "", 256, "two\\TEST.INI"), "nested");
    const std::string absolute = (dir.path() / "test.ini").string();
    EXPECT_EQ(get("S", "k", "", 256, absolute.c_str()), "top");
    std::filesystem::current_path(dir.path());
}

TEST(ProfileWrite, AFailedWriteLeavesTheFileAsItWas) {
    ScratchDir dir;
    ScratchDir::write("test.ini", "[S]\nk=1\n");
    std::filesystem::permissions("test.ini", std::filesystem::perms::owner_read |
                                                 std::filesystem::perms::group_read |
                                                 std::filesystem::perms::others_read);
    EXPECT_FALSE(put("S", "k", "2")) << "read-only file";
    EXPECT_FALSE(put("S", "k", nullptr)) << "read-only file";
    EXPECT_FALSE(put("S", nullptr, nullptr)) << "read-only file";
    EXPECT_EQ(ScratchDir::read("test.ini"), "[S]\nk=1\n");
    EXPECT_FALSE(put("S", "k", "2", ".\\missing\\test.ini")) << "missing directory";
    EXPECT_FALSE(std::filesystem::exists("missing"));
    EXPECT_EQ(dir.files(), std::vector<std::string>{"test.ini"}) << "no temporary file left";
}

TEST(ProfileWrite, KeepsTheFilePermissions) {
    ScratchDir dir;
    ScratchDir::write("test.ini", "[S]\nk=1\n");
    ::chmod("test.ini", 0640);
    ASSERT_TRUE(put("S", "k", "2"));
    struct stat st {};
    ASSERT_EQ(::stat("test.ini", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// Eight windows closing at once each write their own keys; none may be lost.
TEST(ProfileWrite, ConcurrentWritersLoseNothing) {
    constexpr int Threads = 8;
    constexpr int KeysPerThread = 5;
    for (int round = 0; round < 20; ++round) {
        ScratchDir dir;
        ASSERT_TRUE(put("Fixed", "k", "always"));
        std::atomic<bool> done{false};
        std::atomic<int> readerMisses{0};
        std::thread reader([&] {
            // A read during a write must see the old file or the new one, never none.
            while (!done)
                if (get("Fixed", "k", "missing") != "always") ++readerMisses;
        });
        std::vector<std::thread> writers;
        for (int t = 0; t < Threads; ++t)
            writers.emplace_back([t] {
                for (int k = 0; k < KeysPerThread; ++k) {
                    const std::string key = "T" + std::to_string(t) + "K" + std::to_string(k);
                    put(t % 2 ? "Odd" : "Even", key.c_str(), key.c_str());
                }
            });
        for (auto& w : writers)
            w.join();
        done = true;
        reader.join();
        EXPECT_EQ(readerMisses, 0);
        for (int t = 0; t < Threads; ++t)
            for (int k = 0; k < KeysPerThread; ++k) {
                const std::string key = "T" + std::to_string(t) + "K" + std::to_string(k);
                ASSERT_EQ(get(t % 2 ? "Odd" : "Even", key.c_str(), ""), key) << "round " << round;
            }
        EXPECT_EQ(dir.files(), std::vector<std::string>{"test.ini"});
    }
}

// A process killed in the middle of its writes leaves a whole file behind.
TEST(ProfileWrite, AKilledWriterLeavesAWholeFile) {
    ScratchDir dir;
    const std::string big(50000, 'v');
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (int i = 0;; ++i) {
            put("S", "big", (big + std::to_string(i % 10)).c_str());
            put("S", "n", std::to_string(i).c_str());
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::atoi(get("S", "n", "0").c_str()) < 20 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ASSERT_GE(std::atoi(get("S", "n", "0").c_str()), 20) << "the writer never got going";
    const std::string content = ScratchDir::read("test.ini");
    EXPECT_EQ(content.substr(0, 5), "[S]\r\n");
    EXPECT_EQ(content.substr(content.size() - 2), "\r\n");
    EXPECT_EQ(get("S", "big", "", 60000).substr(0, big.size()), big);
    EXPECT_EQ(get("S", "big", "", 60000).size(), big.size() + 1);
}

} // namespace
