// What the TCP and UDP servers share: the port parameter, the start-up lines and
// captions, and the bind rule.
#include "plainfixture.h"
#include "platform/text.h"
#include "support/selfholder.h"
#include "tools/plain/plainserver.h"

using namespace plain_testing;

namespace {

struct PortCase {
    const char* parameter;
    int expected;
};

TEST(PlainServerPort, ParameterGivesThePortOrTheDefault) {
    const PortCase cases[] = {
        {"8088                ", 8088},
        {"   8089  ", 8089},
        {"", 8010},
        {"0", 8010},
        {"abc", 8010},
        {"65535", 65535},
        {"65536", 8010},
        {"99999999999999999999", 8010},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tools::PlainServer::portFromParameter(c.parameter, 8010), c.expected)
            << c.parameter;
}

struct Kind {
    const char* procedure;
    const char* prefix;
    int type;
};
const Kind kKinds[] = {{"WS_Tcp", "TCP", SOCK_STREAM}, {"WS_Udp", "UDP", SOCK_DGRAM}};

// The value after `label` in the start-up lines.
std::string valueOf(const std::vector<std::string>& lines, const std::string& label) {
    for (const auto& l : lines)
        if (l.rfind(label, 0) == 0) return l.substr(label.size());
    return "<missing " + label + ">";
}

} // namespace

TEST_F(PlainFixture, StartUpLinesComeInOrderAndTheCaptionNamesHostAndPort) {
    for (const Kind& kind : kKinds) {
        const int port = freePort(kind.type);
        auto w = startServer(kind.procedure, text::pad(std::to_string(port), 20));
        const auto lines = texts(*w);
        const std::string host = valueOf(lines, "Host name: ");
        const std::string address = valueOf(lines, "Host IP: ");
        const std::string socketLine = std::string(kind.prefix) + " Socket #";
        const std::string number = valueOf(lines, socketLine);
        std::vector<std::string> expected = {
            "User name: " + valueOf(lines, "User name: "),
            "Computer name: " + valueOf(lines, "Computer name: "),
            "Initializing sockets ..",
            "Host name: " + host,
            "Host IP: " + address,
            "Port: " + std::to_string(port),
            "",
            "creating socket...",
            socketLine + number,
            "binding Socket...",
        };
        if (kind.type == SOCK_STREAM) expected.push_back("socket to listen...");
        expected.insert(expected.end(), {"waiting to accept()...", ""});
        EXPECT_EQ(lines, expected) << kind.procedure;
        EXPECT_FALSE(number.empty());
        EXPECT_EQ(w->model().caption(), std::string(kind.prefix) + " - " + host + ":" +
                                            std::to_string(port) + " (" + address + ")");
        closeWindow(w);
    }
}

TEST_F(PlainFixture, BindMovesPastTakenPortsTenTimesAtMost) {
    struct Case {
        int taken;
        bool bound;
    };
    for (const Kind& kind : kKinds) {
        for (const Case c : {Case{2, true}, Case{10, false}}) {
            std::vector<int> holders;
            const int base = takenRun(kind.type, c.taken, holders);
            ASSERT_GT(base, 0);
            auto w = startServer(kind.procedure, std::to_string(base));
            const auto lines = texts(*w);
            std::vector<std::string> tries;
            for (int i = 1; i <= c.taken; ++i)
                tries.push_back("trying port: " + std::to_string(base + i));
            std::vector<std::string> seen;
            std::size_t binds = 0;
            for (const auto& l : lines) {
                if (l.rfind("trying port: ", 0) == 0) seen.push_back(l);
                if (l == "binding Socket...") ++binds;
            }
            // Every port it could not take is held here, and it says so.
            EXPECT_EQ(std::count(lines.begin(), lines.end(), testing_support::SelfHolder().line()),
                      std::min(c.taken, 10));
            EXPECT_EQ(seen, tries) << kind.procedure << " " << c.taken;
            EXPECT_EQ(binds, static_cast<std::size_t>(std::min(c.taken + 1, 10)));
            EXPECT_FALSE(hasText(*w, "WSAEADDRINUSE"));
            const std::string port = std::to_string(base + c.taken);
            EXPECT_NE(w->model().caption().find(":" + port + " ("), std::string::npos)
                << w->model().caption();
            if (c.bound) {
                // The port the caption names is the one it listens on.
                const int probe = holdPort(kind.type, base + c.taken);
                EXPECT_LT(probe, 0);
                if (probe >= 0) ::close(probe);
            } else if (kind.type == SOCK_STREAM) {
                // Never bound: the listen that follows says so by name.
                const auto after = std::find(lines.begin(), lines.end(), "socket to listen...");
                ASSERT_NE(after, lines.end());
                EXPECT_EQ(*(after + 1), "WSAEINVAL");
            }
            closeWindow(w);
            for (int fd : holders)
                ::close(fd);
        }
    }
}

TEST_F(PlainFixture, NoPortAfter65535IsTried) {
    // Held here, or already by somebody else: taken either way.
    const int holder = holdPort(SOCK_STREAM, 65535);
    auto w = startServer("WS_Tcp", "65535");
    EXPECT_TRUE(hasText(*w, "WSAEADDRINUSE"));
    EXPECT_FALSE(hasText(*w, "trying port: 0"));
    EXPECT_NE(w->model().caption().find(":65535 ("), std::string::npos) << w->model().caption();
    closeWindow(w);
    if (holder >= 0) ::close(holder);
}
