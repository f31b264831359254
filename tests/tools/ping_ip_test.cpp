#include "icmpfixture.h"

#include "platform/text.h"
#include "settings/settingsfile.h"
#include "tools/icmp/ping_ip.h"

#include <cstring>
#include <regex>

using namespace icmp_testing;
using tools::Ping_ip;

namespace {

struct PingWindow : IcmpFixture {
    std::shared_ptr<ui::ToolWindow> window;

    void start(std::shared_ptr<tools::EchoService> echo = std::make_shared<tools::EchoService>()) {
        window = open(std::make_unique<Ping_ip>(std::move(echo)));
    }
    // The text of the box that the press showed.
    std::string ping(const std::string& field) {
        const std::size_t before = printed(*window, "box").size();
        typeAndPress(*window, Ping_ip::AddressEntry, field, Ping_ip::PingButton);
        const auto boxes = printed(*window, "box");
        if (boxes.size() != before + 1) return "(no box)";
        const std::string prefix = "PING\tnone\t";
        EXPECT_EQ(boxes.back().rfind(prefix, 0), 0u) << boxes.back();
        return boxes.back().substr(prefix.size());
    }
    static std::string setting() { return ReadSetting("Ping Settings", "Ping", "(none)"); }
};

std::vector<std::string> lines(const std::string& box) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t bar; (bar = box.find('|', start)) != std::string::npos; start = bar + 1)
        out.push_back(box.substr(start, bar - start));
    out.push_back(box.substr(start));
    return out;
}

} // namespace

TEST_F(PingWindow, TheLocalHostAnswersWithSixLinesAndTheAddressIsKept) {
    start();
    EXPECT_EQ(window->model().caption(), "Ping");
    const auto box = lines(ping("127.0.0.1   "));
    ASSERT_EQ(box.size(), 6u) << ::testing::PrintToString(box);
    EXPECT_EQ(box[0], "127.0.0.1");
    EXPECT_EQ(box[1], "");
    EXPECT_EQ(box[2], "0   [ ip success ]");
    EXPECT_TRUE(std::regex_match(box[3], std::regex("[0-9]+ ms"))) << box[3];
    EXPECT_EQ(box[4], "32 bytes");
    EXPECT_EQ(box[5], "01234567890123456789012345678901");
    EXPECT_EQ(setting(), "127.0.0.1");
}

TEST_F(PingWindow, AnInvalidAddressSendsNothingAndLeavesTheSettingAlone) {
    WriteSetting("Ping Settings", "Ping", "10.9.8.7");
    auto echo = std::make_shared<ScriptedEcho>([](auto&, auto&) { return 1u; });
    start(echo);
    EXPECT_EQ(window->model().value(Ping_ip::AddressEntry), "10.9.8.7");
    for (const std::string field : {"localhost", "10.0.0", "1.2.3.4.5", "0.0.0.0", "", "   "}) {
        EXPECT_EQ(ping(field), text::trimRight(field) + "||Invalid IP Address !") << field;
        EXPECT_EQ(setting(), "10.9.8.7") << field;
    }
    EXPECT_TRUE(echo->requests().empty());
}

TEST_F(PingWindow, WithoutAnAnswerTheBoxShowsWhatTheServiceLeftInTheRecord) {
    int calls = 0;
    auto echo = std::make_shared<ScriptedEcho>([&](const auto&, win::EchoReply& reply) {
        if (calls++ == 0) {
            // A first answer that leaves its marks in the record.
            reply.ADDRESS = address("198.18.0.9");
            reply.ROUNDTRIPTIME = 5;
            reply.DATASIZE = 4;
            std::strcpy(reply.DATA, "zzzz");
            return 1u;
        }
        reply.STATUS = win::IP_REQ_TIMED_OUT;
        return 0u;
    });
    start(echo);
    EXPECT_EQ(ping("198.18.0.9"), "198.18.0.9||0   [ ip success ]|5 ms|4 bytes|zzzz");
    EXPECT_EQ(ping("198.18.0.9"), "198.18.0.9||11010   [ ip req timed out ]|0 ms|0 bytes|");
    const auto requests = echo->requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& r : requests) {
        EXPECT_EQ(r.destination, address("198.18.0.9"));
        EXPECT_FALSE(r.options);
        EXPECT_TRUE(r.clearedReply);
    }
    // A request without an answer still went to a valid address.
    EXPECT_EQ(setting(), "198.18.0.9");
}

TEST_F(PingWindow, TheFieldAtCloseIsTheOneTheNextWindowShows) {
    start();
    EXPECT_EQ(window->model().value(Ping_ip::AddressEntry), "");
    window->invoke([&] { window->applyInput(Ping_ip::AddressEntry, "10.1.2.3    "); }).get();
    closeWindow(window);
    EXPECT_EQ(setting(), "10.1.2.3");
    start();
    EXPECT_EQ(window->model().value(Ping_ip::AddressEntry), "10.1.2.3");
}
