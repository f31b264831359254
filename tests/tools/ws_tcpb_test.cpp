#include "blockerfixture.h"
#include "settings/settingsfile.h"
#include "support/selfholder.h"
#include "tools/blockers/ws_tcpb.h"

#include <cstring>
#include <regex>

using namespace blocker_testing;
using tools::WS_TcpB;

namespace {

struct TcpBlocker : BlockerFixture {
    int p1 = freePort(SOCK_STREAM);
    int p2 = freePort(SOCK_STREAM);

    void openWith(const std::string& file) {
        ScratchDir::write("Varlo.tcp", file);
        open("WS_TcpB");
    }

    // The seven set-up lines of one record.
    static std::vector<std::string> setUpLines(int slot, const std::string& portLine) {
        const std::string n = std::to_string(slot);
        return {"creating socket[" + n + "]",
                "TCP socket[" + n + "] #",
                "binding socket[" + n + "]",
                "socket to listen[" + n + "]",
                "waiting to accept()..",
                portLine,
                ""};
    }

    // The log lines match `expected`; an expected "… #" line matches any socket number.
    static void expectLines(const std::vector<std::string>& got,
                            const std::vector<std::string>& expected) {
        ASSERT_GE(got.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            if (!expected[i].empty() && expected[i].back() == '#')
                EXPECT_TRUE(std::regex_match(
                    got[i],
                    std::regex(std::regex_replace(expected[i], std::regex(R"([\[\]])"), R"(\$&)") +
                               R"(\d+)")))
                    << i << ": " << got[i];
            else
                EXPECT_EQ(got[i], expected[i]) << i;
        }
    }
};

TEST_F(TcpBlocker, TwoRecordsGiveTheBannerAndSevenSetUpLinesEach) {
    openWith(std::to_string(p1) + ", Http\r\n" + std::to_string(p2) + ", Custom\r\n");
    const auto texts = logTexts();
    ASSERT_GE(texts.size(), 20u) << dump();
    EXPECT_EQ(texts[0].rfind("User name: ", 0), 0u);
    EXPECT_EQ(texts[1].rfind("Computer name: ", 0), 0u);
    EXPECT_EQ(texts[2], "Initializing sockets ..");
    EXPECT_EQ(texts[3].rfind("Host name: ", 0), 0u);
    EXPECT_EQ(texts[4].rfind("Host IP: ", 0), 0u);
    EXPECT_EQ(texts[5], "");
    auto expected = setUpLines(1, "TCP port: " + std::to_string(p1) + " Http");
    const auto second = setUpLines(2, "TCP port: " + std::to_string(p2) + " Custom");
    expected.insert(expected.end(), second.begin(), second.end());
    expected.push_back("2 ports set up from " + tools::portlist::path("Varlo.tcp"));
    expectLines(std::vector<std::string>(texts.begin() + 6, texts.end()), expected);
    EXPECT_EQ(texts.size(), 6 + expected.size());

    const std::string host = texts[3].substr(11), ip = texts[4].substr(9);
    EXPECT_EQ(caption(), "TCP blocker " + host + " (" + ip + ")");
    const auto rows = window->model().rows(tools::PortBlocker::PortsControl);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1], (ui::Row{text::pad(std::to_string(p2), 10), text::pad("Custom", 40)}));
}

TEST_F(TcpBlocker, AListSavedWithLineFeedsIsTrappedAndItsPathNamed) {
    openWith(std::to_string(p1) + ", Http\n" + std::to_string(p2) + ", Custom\n");
    EXPECT_EQ(window->model().rowCount(tools::PortBlocker::PortsControl), 2u);
    EXPECT_EQ(logTexts().back(), "2 ports set up from " + tools::portlist::path("Varlo.tcp"));
    const int client = connectAndWaitForClose(p2);
    ASSERT_GT(client, 0);
    const std::string hit = std::to_string(p2) + " Custom - 127.0.0.1:" + std::to_string(client);
    EXPECT_TRUE(waitUntil([&] {
        for (auto& t : logTexts())
            if (t.rfind(hit, 0) == 0) return true;
        return false;
    })) << dump();
}

TEST_F(TcpBlocker, HitIsLoggedWithThePeerClosedCountedAndSounded) {
    shell::Sound = 1;
    openWith(std::to_string(p1) + ", Http\r\n" + std::to_string(p2) + ", Custom\r\n");
    const std::string before = caption();
    const int client = connectAndWaitForClose(p2);
    ASSERT_GT(client, 0);
    onWindow([] {});
    EXPECT_EQ(caption(), before + " Hit:1");
    const auto lines = printed();
    const std::string hit =
        std::to_string(p2) + " Custom - 127.0.0.1:" + std::to_string(client) + " accept #";
    auto at = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.find("\t" + hit) != std::string::npos;
    });
    ASSERT_NE(at, lines.end()) << dump();
    EXPECT_TRUE(
        std::regex_match(*at, std::regex(R"(row 1 \d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\t.*#\d+)")))
        << *at;
    ASSERT_LT(at + 2, lines.end());
    EXPECT_EQ((at + 1)->substr((at + 1)->find('\t') + 1), "closing client socket...");
    EXPECT_EQ(*(at + 2), "cue Alarm.wav");
}

TEST_F(TcpBlocker, IgnoreLocalSkipsOnlyThisMachinesAddressesButCountsEveryHit) {
    shell::Sound = 1;
    openWith(std::to_string(p1) + ", Http\r\n");
    const std::string before = caption();
    const struct {
        bool ignore;
        const char* from;
        bool logged;
    } cases[] = {{true, "127.0.0.1", false}, {true, "127.0.0.2", true}, {false, "127.0.0.1", true},
                 {true, "::1", false},       {false, "::1", true}};
    int hits = 0;
    for (const auto& c : cases) {
        auto w = window;
        const bool on = c.ignore;
        onWindow([w, on] { w->model().setChecked(WS_TcpB::IgnoreLocal, on, true); });
        const std::size_t cues = countPrinted("cue ");
        const int client = connectAndWaitForClose(p1, c.from);
        ASSERT_GT(client, 0) << c.from;
        onWindow([] {});
        EXPECT_EQ(caption(), before + " Hit:" + std::to_string(++hits));
        const std::string peer = std::strchr(c.from, ':') ? "[" + std::string(c.from) + "]" : c.from;
        const std::string hit =
            std::to_string(p1) + " Http - " + peer + ":" + std::to_string(client) + " accept #";
        bool found = false;
        for (auto& t : logTexts())
            found = found || t.rfind(hit, 0) == 0;
        EXPECT_EQ(found, c.logged) << c.ignore << " " << c.from;
        EXPECT_EQ(countPrinted("cue Alarm.wav"), cues + (c.logged ? 1 : 0)) << c.from;
    }
}

TEST_F(TcpBlocker, DuplicatePortFailsAtBindAndListenAndTheFirstStillTraps) {
    shell::Sound = 1;
    openWith(std::to_string(p1) + ", One\r\n" + std::to_string(p1) + ", Two\r\n");
    expectLines(logFrom("creating socket[2]"),
                {"creating socket[2]", "TCP socket[2] #", "binding socket[2]", "WSAEADDRINUSE",
                 testing_support::SelfHolder().line(), "socket to listen[2]", "WSAEINVAL",
                 "waiting to accept()..", "TCP port: " + std::to_string(p1) + " Two", ""});
    EXPECT_EQ(countPrinted("cue Error.wav"), 2u);
    ASSERT_GT(connectAndWaitForClose(p1), 0);
    EXPECT_TRUE(waitUntil([&] {
        for (auto& t : logTexts())
            if (t.rfind(std::to_string(p1) + " One - 127.0.0.1:", 0) == 0) return true;
        return false;
    }));
}

// A port another program holds on one family only is still trapped on the other:
// the failure is logged once, for its family, and the row is not marked as failed.
TEST_F(TcpBlocker, APortHeldOnOneFamilyIsLoggedForItAndTrappedOnTheOther) {
    const struct {
        const char* held;
        const char* error;
        const char* other; // the error line that must not be there
        const char* peer;
    } cases[] = {{"::", "WSAEADDRINUSE (IPv6)", "WSAEADDRINUSE", "127.0.0.1"},
                 {"0.0.0.0", "WSAEADDRINUSE", "WSAEADDRINUSE (IPv6)", "::1"}};
    for (const auto& c : cases) {
        const int port = freePort(SOCK_STREAM);
        const auto held = testing_support::anyAddress(port, c.held);
        const int holder = ::socket(held.family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(holder, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        ASSERT_EQ(::bind(holder, held.get(), held.length), 0) << c.held;
        ASSERT_EQ(::listen(holder, 1), 0);
        openWith(std::to_string(port) + ", Held\r\n");
        const auto texts = logTexts();
        EXPECT_EQ(std::count(texts.begin(), texts.end(), c.error), 1) << c.held << dump();
        EXPECT_FALSE(logged(c.other)) << c.held;
        EXPECT_TRUE(logged("1 ports set up from " + tools::portlist::path("Varlo.tcp")));
        EXPECT_TRUE(window->model().rowNotes(tools::PortBlocker::PortsControl).empty());
        const int client = connectAndWaitForClose(port, c.peer);
        ASSERT_GT(client, 0) << c.peer;
        const std::string peer = std::strchr(c.peer, ':') ? "[::1]" : c.peer;
        const std::string hit = std::to_string(port) + " Held - " + peer + ":" +
                                std::to_string(client) + " accept #";
        EXPECT_TRUE(waitUntil([&] {
            for (auto& t : logTexts())
                if (t.rfind(hit, 0) == 0) return true;
            return false;
        })) << dump();
        ::close(holder);
        window->postClose();
        ASSERT_TRUE(desktop->waitAllClosed(5000));
    }
}

TEST_F(TcpBlocker, PortTextThatIsNotANumberListensOnAnyFreePort) {
    openWith("http, Web\r\n");
    EXPECT_TRUE(logged("TCP port: 0 Web"));
    win::SOCKET s = win::INVALID_SOCKET;
    onWindow([&] { s = blocker().socketTable()[0]; });
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    ASSERT_EQ(::getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(&bound), &len), 0);
    const int port = ntohs(bound.sin_port);
    ASSERT_NE(port, 0);
    const int client = connectAndWaitForClose(port);
    ASSERT_GT(client, 0);
    EXPECT_TRUE(waitUntil([&] {
        for (auto& t : logTexts())
            if (t.rfind("http Web - 127.0.0.1:" + std::to_string(client) + " accept #", 0) == 0)
                return true;
        return false;
    }));
}

TEST_F(TcpBlocker, NoSocketForValuesAbove65535NorBeyondTheHundredthRecord) {
    std::string file = "70000, Big\r\n";
    for (int i = 2; i <= 105; ++i)
        file += "x, rec " + std::to_string(i) + "\r\n";
    openWith(file);
    EXPECT_TRUE(logged("TCP port: 70000 is not a port, no socket[1]")) << dump();
    EXPECT_FALSE(logged("creating socket[1]"));
    std::size_t sockets = 0;
    for (auto& t : logTexts())
        sockets += t.rfind("TCP socket[", 0) == 0;
    EXPECT_EQ(sockets, 99u);
    EXPECT_TRUE(logged("max 100 records: 5 more left out"));
    std::size_t open = 0, open6 = 0;
    onWindow([&] {
        for (auto s : blocker().socketTable())
            open += s != win::INVALID_SOCKET;
        for (auto s : blocker().socketTable6())
            open6 += s != win::INVALID_SOCKET;
    });
    EXPECT_EQ(open, 99u);
    // A record is one port, trapped on both families.
    EXPECT_EQ(open6, 99u);
    EXPECT_EQ(window->model().rowCount(tools::PortBlocker::PortsControl), 105u);
}

TEST_F(TcpBlocker, MissingOrEmptyListGivesTheCueTheBoxAndTheNoPortsLine) {
    const struct {
        const char* name;
        bool write;
        std::string content;
    } cases[] = {{"missing", false, ""},
                 {"empty", true, ""},
                 {"blanks", true, "   \r\n  \r\n"}};
    for (const auto& c : cases) {
        std::filesystem::remove("Varlo.tcp");
        if (c.write) ScratchDir::write("Varlo.tcp", c.content);
        shell::Sound = 1;
        open("WS_TcpB");
        const auto lines = printed();
        const auto cue = std::find(lines.begin(), lines.end(), "cue Problem.wav");
        const auto box =
            std::find(lines.begin(), lines.end(),
                      "box \tnone\tCreate a file: Varlo.tcp  with comma|delimited records "
                      "(Port, Description)||80, Http|1456, Custom|etc.. max 100 records");
        ASSERT_NE(cue, lines.end()) << c.name << dump();
        ASSERT_NE(box, lines.end()) << c.name;
        EXPECT_LT(cue, box);
        EXPECT_EQ(logFrom("No ports in Varlo.tcp file !"),
                  (std::vector<std::string>{"No ports in Varlo.tcp file !",
                                            "0 ports set up from " + tools::portlist::path("Varlo.tcp")}))
            << c.name;
        window->postClose();
        ASSERT_TRUE(desktop->waitAllClosed(5000));
    }
}

TEST_F(TcpBlocker, ReloadClosesTheOldPortsEmptiesTheLogAndTrapsTheNewList) {
    openWith(std::to_string(p1) + ", One\r\n");
    ScratchDir::write("Varlo.tcp",
                      std::to_string(p2) + ", Two\r\n" + std::to_string(p1) + ", Again\r\n");
    const std::size_t before = printed().size();
    press(WS_TcpB::Reload);
    const auto lines = printed();
    ASSERT_GT(lines.size(), before + 2);
    EXPECT_EQ(lines[before].substr(lines[before].find('\t') + 1), "closing sockets..");
    EXPECT_EQ(lines[before + 1], "clear 1");
    EXPECT_EQ(window->model().rowCount(tools::PortBlocker::PortsControl), 2u);
    // The old port 1 was closed before it was bound again as record 2.
    expectLines(logFrom("creating socket[2]"),
                setUpLines(2, "TCP port: " + std::to_string(p1) + " Again"));
    ASSERT_GT(connectAndWaitForClose(p2), 0);
    EXPECT_TRUE(waitUntil([&] {
        for (auto& t : logTexts())
            if (t.rfind(std::to_string(p2) + " Two - ", 0) == 0) return true;
        return false;
    }));
}

struct SettingsCase {
    const char* name;
    const char* ini;
    bool ignore;
    const char* alarm;
};

TEST_F(TcpBlocker, SettingsAreReadOnlyWhenIgnoreLocalHasAValueAndWrittenAtClose) {
    const SettingsCase cases[] = {
        {"no section", "", false, "Alarm.wav"},
        {"both keys", "[Tcp block]\r\nIgnore local=1\r\nAlarm=Siren.wav\r\n", true, "Siren.wav"},
        {"alarm alone", "[Tcp block]\r\nAlarm=Siren.wav\r\n", false, "Alarm.wav"},
        {"blank first key", "[Tcp block]\r\nIgnore local=  \r\nAlarm=Siren.wav\r\n", false,
         "Alarm.wav"},
        {"missing alarm", "[Tcp block]\r\nIgnore local=0\r\n", false, ""},
        {"long alarm", "[Tcp block]\r\nIgnore local=1\r\nAlarm=AVeryLongAlarmFileName.wav\r\n",
         true, "AVeryLongAlarmFileNa"},
    };
    for (const auto& c : cases) {
        ScratchDir::write("VARlo.INI", c.ini);
        openWith(std::to_string(p1) + ", One\r\n");
        EXPECT_EQ(window->model().checked(WS_TcpB::IgnoreLocal), c.ignore) << c.name;
        EXPECT_EQ(window->model().value(WS_TcpB::AlarmFile), c.alarm) << c.name;
        window->postClose();
        ASSERT_TRUE(desktop->waitAllClosed(5000));
        EXPECT_EQ(ReadSetting("Tcp block", "Ignore local", "?"), c.ignore ? "1" : "0") << c.name;
        EXPECT_EQ(ReadSetting("Tcp block", "Alarm", "?"), c.alarm) << c.name;
    }
    // What the person changes is what is written.
    openWith(std::to_string(p1) + ", One\r\n");
    press(WS_TcpB::IgnoreLocal);
    auto w = window;
    onWindow([w] { w->applyInput(WS_TcpB::AlarmFile, "Beep.wav   "); });
    window->postClose();
    ASSERT_TRUE(desktop->waitAllClosed(5000));
    EXPECT_EQ(ReadSetting("Tcp block", "Ignore local", "?"), "0");
    EXPECT_EQ(ReadSetting("Tcp block", "Alarm", "?"), "Beep.wav");
    EXPECT_TRUE(countPrinted("clear 2") > 0);
}

TEST_F(TcpBlocker, SoundBoxIsTheProcessWideSwitch) {
    shell::Sound = 1;
    openWith(std::to_string(p1) + ", One\r\n");
    EXPECT_TRUE(window->model().checked(WS_TcpB::SoundSwitch));
    press(WS_TcpB::SoundSwitch);
    EXPECT_FALSE(shell::soundOn());
    ASSERT_GT(connectAndWaitForClose(p1), 0);
    onWindow([] {});
    EXPECT_EQ(countPrinted("cue "), 0u);
}

TEST_F(TcpBlocker, EditStartsTheEditorOnTheListOrSaysThatNoneCouldStart) {
    const std::string script = (dir.path() / "editor.sh").string();
    ScratchDir::write(script, "#!/bin/sh\necho \"$1\" > \"$(dirname \"$0\")/edited.txt\"\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    openWith(std::to_string(p1) + ", One\r\n");

    ::setenv("VISUAL", script.c_str(), 1);
    press(WS_TcpB::Edit);
    EXPECT_TRUE(waitUntil(
        [&] { return ScratchDir::read("edited.txt") == dir.path().string() + "/Varlo.tcp\n"; }));
    EXPECT_FALSE(logged("No editor to open Varlo.tcp"));

    ::unsetenv("VISUAL");
    ::unsetenv("EDITOR");
    ::setenv("PATH", "/nonexistent", 1);
    press(WS_TcpB::Edit);
    ::setenv("PATH", path.c_str(), 1);
    EXPECT_TRUE(logged("No editor to open Varlo.tcp"));
}

} // namespace
