// The information tools and the port check as the built program opens them from
// its menu; the internet status inside network namespaces built for the test.
#include "app/program.h"
#include "platform/netnamespace.h"
#include "platform/scratchdir.h"

#include <gtest/gtest.h>

namespace {

const std::string kBlankField(32, ' ');

// "Status: ..." as the box shows it: two 32-character fields.
std::string statusBox(const std::string& status, const std::string& speed) {
    return "Inet_stat#1 box Internet status\tasterisk\t" + (status + kBlankField).substr(0, 32) +
           "|" + (speed + kBlankField).substr(0, 32);
}

// A namespace joined by a veth pair to a peer namespace that plays the gateway.
struct Link {
    NetNamespace self{"s"}, peer{"g"};
    bool ready = self.made() && peer.made() &&
                 self.ip("link add v0 type veth peer name v1 netns " + peer.name()) &&
                 self.ip("addr add 198.18.7.1/24 dev v0") &&
                 peer.ip("addr add 198.18.7.2/24 dev v1") && self.ip("link set v0 up") &&
                 peer.ip("link set v1 up");

    std::string askFromTheMenu() const {
        Program program({"--headless", "--script", "-"}, "menu WS/Internet status\nquit\n",
                        {"ip", "netns", "exec", self.name()});
        EXPECT_EQ(program.wait(30000), 0) << program.output();
        return program.output();
    }
};

} // namespace

TEST(HeadlessInternetStatus, DefaultRouteOverAnUpLinkIsOnLineWithTheVethSpeed) {
    ScratchDir dir;
    Link link;
    if (!link.ready) GTEST_SKIP() << "network namespaces cannot be made here";
    ASSERT_TRUE(link.self.ip("route add default via 198.18.7.2"));
    // A veth link says 10000 Mb/s: ten gigabits, more than 32 bits can count.
    const std::string out = link.askFromTheMenu();
    EXPECT_NE(out.find(statusBox("Status: ON Line", "Link Speed: 10000000000 bps") + "\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Inet_stat#1 closed\n"), std::string::npos) << out;
}

TEST(HeadlessInternetStatus, NoDefaultRouteOrALinkWithoutCarrierIsOffLine) {
    ScratchDir dir;
    {
        Link link;
        if (!link.ready) GTEST_SKIP() << "network namespaces cannot be made here";
        const std::string out = link.askFromTheMenu();
        EXPECT_NE(out.find(statusBox("Status: OFF Line", "") + "\n"), std::string::npos) << out;
    }
    {
        // The route stays while the gateway's end of the link is down.
        Link link;
        ASSERT_TRUE(link.ready);
        ASSERT_TRUE(link.self.ip("route add default via 198.18.7.2"));
        ASSERT_TRUE(link.peer.ip("link set v1 down"));
        const std::string out = link.askFromTheMenu();
        EXPECT_NE(out.find(statusBox("Status: OFF Line", "") + "\n"), std::string::npos) << out;
    }
    {
        // No link ever up, so no main routing table: the kernel's table is empty.
        const std::string bare = "wsbare" + std::to_string(::getpid());
        ASSERT_TRUE(NetNamespace::shell("ip netns add " + bare));
        Program program({"--headless", "--script", "-"}, "menu WS/Internet status\nquit\n",
                        {"ip", "netns", "exec", bare});
        program.wait(30000);
        NetNamespace::shell("ip netns del " + bare);
        EXPECT_TRUE(program.printed(statusBox("Status: OFF Line", ""))) << program.output();
    }
}

TEST(HeadlessInformation, EveryMenuEntryOpensItsWorkingTool) {
    ScratchDir dir;
    Program program({"--headless", "--script", "-"},
                    "menu WS/Info/Socket info\nwaitfor WS_INFO \"field 10\"\npress WS_INFO OK\n"
                    "menu WS/Info/Protocols\nwaitfor WS_PROTO \"cursor normal\"\n"
                    "menu WS/Info/Services\nwaitfor WS_SERVIS \"cursor normal\"\n"
                    "menu WS/Port scan\nset Port_chk 3 8\nset Port_chk 5 2\npress Port_chk Go\n"
                    "quit\n");
    ASSERT_EQ(program.wait(30000), 0) << program.output();
    for (const char* line : {"WS_INFO#1 field 2 257", "WS_INFO#1 closed", "WS_PROTO#1 row 1 6\ttcp",
                             "WS_SERVIS#1 row 1 80\thttp", "Port_chk#1 beep"})
        EXPECT_TRUE(program.printed(line)) << line << "\n" << program.output();
    EXPECT_NE(program.output().find("WS_SERVIS#1 closed"), std::string::npos);
}
