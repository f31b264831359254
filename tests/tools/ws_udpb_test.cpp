#include "blockerfixture.h"
#include "settings/settingsfile.h"
#include "tools/blockers/ws_udpb.h"

#include <future>
#include <regex>

using namespace blocker_testing;
using tools::WS_UdpB;

namespace {

struct UdpBlocker : BlockerFixture {
    int p1 = freePort(SOCK_DGRAM);
    int p2 = freePort(SOCK_DGRAM);

    void openWith(const std::string& file) {
        ScratchDir::write("Varlo.udp", file);
        open("WS_UdpB");
    }

    std::string hitCaption(int hits) { return m_base + " Hit:" + std::to_string(hits); }
    void rememberCaption() { m_base = caption(); }
    bool waitForHits(int hits) {
        return waitUntil([&] { return caption() == hitCaption(hits); });
    }

    // Holds the window's thread until release() so that datagrams pile up.
    void hold() {
        auto gate = m_gate.get_future().share();
        window->invoke([gate] { gate.wait(); });
    }
    void release() { m_gate.set_value(); }

private:
    std::string m_base;
    std::promise<void> m_gate;
};

TEST_F(UdpBlocker, OneRecordGivesSixSetUpLinesWithoutListen) {
    openWith(std::to_string(p1) + ", DNS\r\n");
    const auto lines = logFrom("creating socket[1]");
    ASSERT_EQ(lines.size(), 7u) << dump();
    EXPECT_EQ(lines[0], "creating socket[1]");
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(UDP socket\[1\] #\d+)"))) << lines[1];
    EXPECT_EQ(lines[2], "binding socket[1]");
    EXPECT_EQ(lines[3], "waiting to accept()..");
    EXPECT_EQ(lines[4], "UDP port: " + std::to_string(p1) + " DNS");
    EXPECT_EQ(lines[5], "");
    EXPECT_EQ(lines[6], "1 ports set up from " + tools::portlist::path("Varlo.udp"));
    EXPECT_EQ(caption().rfind("UDP blocker ", 0), 0u);
}

TEST_F(UdpBlocker, DatagramsAreLoggedWithSenderAndContentCutTo80) {
    shell::Sound = 1;
    openWith(std::to_string(p1) + ", DNS\r\n");
    rememberCaption();
    const std::string prefix = std::to_string(p1) + " DNS - 127.0.0.1:";
    // As received: blanks and case kept, up to the first zero byte, the whole
    // line cut to 80 characters.
    const std::string cases[] = {"ping", std::string(200, 'z'), "  Mixed Case \x8A",
                                 std::string("abc\0def", 7)};
    int hits = 0;
    for (const auto& data : cases) {
        const int sender = sendDatagram(p1, data);
        ASSERT_TRUE(waitForHits(++hits)) << caption();
        onWindow([] {});
        const std::string line =
            prefix + std::to_string(sender) + " " + data.substr(0, data.find('\0'));
        EXPECT_EQ(window->model().rows(tools::PortBlocker::LogControl).back()[1],
                  text::trimRight(text::cut(line, 80)));
        EXPECT_EQ(printed().back(), "cue Alarm.wav");
    }
}

// Every datagram is a probe: an empty one, and one longer than the 1,024 bytes a
// read takes, which is logged with its start, as far as the line goes.
TEST_F(UdpBlocker, EmptyAndOverlongDatagramsAreProbesLoggedWithTheirSender) {
    shell::Sound = 1;
    openWith(std::to_string(p1) + ", DNS\r\n");
    rememberCaption();
    const std::string cases[] = {"", std::string(1025, 'L'), std::string(70000, 'M'),
                                 std::string(1024, 'k')};
    int hits = 0;
    for (const auto& data : cases) {
        // Too long for one datagram: the longest one UDP carries instead.
        const std::string sent = data.substr(0, 65507);
        const int sender = sendDatagram(p1, sent);
        ASSERT_TRUE(waitForHits(++hits)) << data.size();
        onWindow([] {});
        EXPECT_EQ(logTexts().back(),
                  text::trimRight(text::cut(std::to_string(p1) + " DNS - 127.0.0.1:" +
                                                std::to_string(sender) + " " + sent,
                                            80)))
            << data.size();
        EXPECT_EQ(printed().back(), "cue Alarm.wav");
    }
}

TEST_F(UdpBlocker, TwoWaitingDatagramsAreHandledOnePerEventInListOrder) {
    openWith(std::to_string(p1) + ", First\r\n" + std::to_string(p2) + ", Second\r\n");
    rememberCaption();
    hold();
    sendDatagram(p2, "two"); // sent first, to the record later in the list
    sendDatagram(p1, "one");
    // Both wait in their sockets before the first handler runs.
    ASSERT_TRUE(waitUntil([&] { return udpQueue(p1).queued > 0 && udpQueue(p2).queued > 0; }));
    release();
    ASSERT_TRUE(waitForHits(2));
    onWindow([] {});
    std::vector<std::string> hits;
    for (auto& t : logTexts())
        if (t.find(" - 127.0.0.1:") != std::string::npos) hits.push_back(t);
    ASSERT_EQ(hits.size(), 2u) << dump();
    EXPECT_EQ(hits[0].rfind(std::to_string(p1) + " First - ", 0), 0u);
    EXPECT_TRUE(hits[0].ends_with(" one"));
    EXPECT_EQ(hits[1].rfind(std::to_string(p2) + " Second - ", 0), 0u);
    EXPECT_TRUE(hits[1].ends_with(" two"));
}

TEST_F(UdpBlocker, IgnoreLocalIpConsumesTheDatagramSilentlyButCountsIt) {
    shell::Sound = 1;
    ScratchDir::write("VARlo.INI", "[Udp block]\r\nIgnore local=1\r\nAlarm=Siren.wav\r\n");
    openWith(std::to_string(p1) + ", DNS\r\n");
    EXPECT_TRUE(window->model().checked(WS_UdpB::IgnoreLocal));
    rememberCaption();
    const std::string setUp = logTexts().back();
    sendDatagram(p1, "quiet");
    ASSERT_TRUE(waitForHits(1));
    onWindow([] {});
    EXPECT_EQ(logTexts().back(), setUp);
    EXPECT_EQ(countPrinted("cue "), 0u);
    press(WS_UdpB::IgnoreLocal);
    sendDatagram(p1, "loud");
    ASSERT_TRUE(waitForHits(2));
    onWindow([] {});
    EXPECT_TRUE(logTexts().back().ends_with(" loud"));
    EXPECT_EQ(printed().back(), "cue Siren.wav");
    window->postClose();
    ASSERT_TRUE(desktop->waitAllClosed(5000));
    EXPECT_EQ(ReadSetting("Udp block", "Ignore local", "?"), "0");
    EXPECT_EQ(ReadSetting("Udp block", "Alarm", "?"), "Siren.wav");
}

} // namespace
