// The information windows: the protocol and service lists against what getent
// reads from the same databases, the start-up data window, and the internet
// status box.
#include "net/shellstate.h"
#include "platform/linkstatus.h"
#include "platform/winsock.h"
#include "support/toolsfixture.h"
#include "tools/info/inet_stat.h"
#include "tools/info/namelist.h"
#include "tools/info/ws_info.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>

using testing_support::waitUntil;

namespace {

// The first name getent gives each number (protocols: "name number ...";
// services: "name port/protocol ..."), as a lookup of the number finds it.
std::map<int, std::string> getentNames(const char* database) {
    std::map<int, std::string> names;
    std::FILE* pipe = ::popen((std::string("getent ") + database).c_str(), "r");
    if (!pipe) return names;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe)) {
        std::istringstream in(line);
        std::string name, number;
        if (!(in >> name >> number)) continue;
        names.try_emplace(std::stoi(number.substr(0, number.find('/'))), name);
    }
    ::pclose(pipe);
    return names;
}

struct InfoWindows : testing_support::ToolsFixture {
    InfoWindows() {
        // The frame's start of the sockets layer, which the lists rely on.
        win::WSAStartup(0x0101, &shell::SocketsData);
        shell::SocketsStarted = 1;
    }
    ~InfoWindows() override {
        desktop->closeAll();
        win::WSACleanup();
        shell::SocketsStarted = 0;
    }

    std::shared_ptr<ui::ToolWindow> open(const std::string& procedure) {
        auto w = desktop->start(procedure, {"nohide"});
        EXPECT_TRUE(w && waitUntil([&] { return w->isOpen(); }));
        if (w) w->invoke([] {}).get(); // the open handler has run
        return w;
    }
    // The window's console lines in order, without its name.
    std::vector<std::string> printed(const ui::ToolWindow& w) {
        std::vector<std::string> out;
        const std::string prefix = w.name() + " ";
        for (const auto& line : console.lines())
            if (line.rfind(prefix, 0) == 0) out.push_back(line.substr(prefix.size()));
        return out;
    }
};

} // namespace

TEST_F(InfoWindows, ListsShowEveryNamedNumberOfTheDatabasesInOrderUnderTheBusyCursor) {
    struct List {
        const char* procedure;
        const char* database;
        int last;
    };
    for (const List l : {List{"WS_PROTO", "protocols", 256}, List{"WS_SERVIS", "services", 1023}}) {
        std::vector<ui::Row> expected;
        for (const auto& [number, name] : getentNames(l.database))
            if (number >= 1 && number <= l.last)
                expected.push_back({std::to_string(number), name.substr(0, 19)});
        ASSERT_GT(expected.size(), 10u) << l.database << ": is netbase installed?";

        auto w = open(l.procedure);
        EXPECT_EQ(w->model().rows(tools::NameList::List), expected) << l.procedure;
        // The busy cursor stands over the whole scan: before the first row, after the last.
        const auto lines = printed(*w);
        std::vector<std::string> marks;
        for (const auto& line : lines)
            if (line.rfind("cursor ", 0) == 0 || line.rfind("row ", 0) == 0)
                marks.push_back(line.rfind("row ", 0) == 0 ? "row" : line);
        ASSERT_GE(marks.size(), 3u);
        EXPECT_EQ(marks.front(), "cursor wait");
        EXPECT_EQ(marks.back(), "cursor normal");
        EXPECT_EQ(std::count(marks.begin(), marks.end(), "row"),
                  static_cast<long>(expected.size()));
    }
}

TEST_F(InfoWindows, ServicesNamedForTcpAndUdpAloneOrBothGiveOneRowEach) {
    auto w = open("WS_SERVIS");
    std::map<std::string, std::string> byPort;
    for (const auto& row : w->model().rows(tools::NameList::List)) {
        EXPECT_TRUE(byPort.emplace(row[0], row[1]).second) << "port listed twice: " << row[0];
        EXPECT_LE(row[1].size(), 19u);
    }
    // netbase names these for both (domain), for tcp only (ssh) and for udp only (bootps).
    for (const auto& [port, name] :
         {std::pair{"53", "domain"}, std::pair{"22", "ssh"}, std::pair{"67", "bootps"}})
        EXPECT_EQ(byPort[port], name) << port;
    EXPECT_EQ(byPort.count("0"), 0u);
    EXPECT_EQ(byPort.count("8080"), 0u); // named (http-alt), but above 1023
}

TEST_F(InfoWindows, StartupDataWindowShowsTheFramesValuesAndOkClosesIt) {
    auto first = open("WS_INFO");
    auto second = open("WS_INFO");
    const win::WSADATA& data = shell::SocketsData;
    for (const auto& w : {first, second}) {
        ui::WindowModel& m = w->model();
        EXPECT_EQ(m.value(tools::WS_INFO::Version), "257");
        EXPECT_EQ(m.value(tools::WS_INFO::Description), std::string(data.szDescription));
        EXPECT_EQ(m.value(tools::WS_INFO::Status), std::string(data.szSystemStatus));
        EXPECT_EQ(m.value(tools::WS_INFO::MaxSockets), std::to_string(data.iMaxSockets));
        EXPECT_EQ(m.value(tools::WS_INFO::MaxUdp), std::to_string(data.iMaxUdpDg));
    }
    first->postControl(tools::WS_INFO::OkButton);
    EXPECT_TRUE(waitUntil([&] { return first->isClosed(); }));
    EXPECT_FALSE(second->isClosed());
}

TEST_F(InfoWindows, StartupDataWindowStartsTheLayerWhenNobodyHas) {
    win::WSACleanup();
    shell::SocketsStarted = 0;
    shell::SocketsData = win::WSADATA{};
    auto w = open("WS_INFO");
    EXPECT_EQ(shell::SocketsStarted.load(), 1);
    EXPECT_EQ(w->model().value(tools::WS_INFO::Version), "257");
    // The layer runs: a lookup that needs it works.
    EXPECT_NE(win::getprotobynumber(6), nullptr);
}

TEST(InternetStatusText, TwoFixedFieldsWithTheSpeedCountedIn64Bits) {
    struct Case {
        win::LinkStatus link;
        const char* status;
        const char* speed;
    };
    const Case cases[] = {
        {{true, true, 100'000'000}, "Status: ON Line", "Link Speed: 10000000000 bps"},
        {{true, true, 10'000}, "Status: ON Line", "Link Speed: 1000000 bps"},
        {{true, true, 0}, "Status: ON Line", ""},
        {{true, false, 0}, "Status: OFF Line", ""},
        {{false, false, 0}, "", ""},
    };
    for (const Case& c : cases) {
        const std::string expected = (c.status + std::string(32, ' ')).substr(0, 32) + "|" +
                                     (c.speed + std::string(32, ' ')).substr(0, 32);
        EXPECT_EQ(tools::Inet_stat::boxText(c.link), expected) << c.status << c.speed;
    }
}

TEST_F(InfoWindows, InternetStatusShowsOneBoxUnseenWindowAndEnds) {
    auto w = desktop->start(std::make_unique<tools::Inet_stat>([] {
        return win::LinkStatus{true, false, 0};
    }));
    ASSERT_TRUE(waitUntil([&] { return w->isClosed(); }));
    const std::string status = "Status: OFF Line" + std::string(16, ' ');
    EXPECT_EQ(printed(*w),
              (std::vector<std::string>{
                  "open", "box Internet status\tasterisk\t" + status + "|" + std::string(32, ' '),
                  "answer OK", "closed"}));
    EXPECT_FALSE(w->model().visible());
}
