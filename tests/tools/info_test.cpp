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

#include <cstdio>
#include <map>
#include <sstream>

using testing_support::waitUntil;

namespace {

// The first name getent gives each number (protocols: "name number ...";
// services: "name port/protocol ..."), which is what a lookup of the number finds.
std::map<int, std::string> getentNames(const char* database) {
    std::map<int, std::string> names;
    std::FILE* pipe = ::popen((std::string("getent ") + database).c_str(), "r");
    char line[1024];
    while (pipe && std::fgets(line, sizeof line, pipe)) {
        std::istringstream in(line);
        std::string name, number;
        if (in >> name >> number) names.try_emplace(std::stoi(number), name);
    }
    if (pipe) ::pclose(pipe);
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
        for (const auto& line : console.lines())
            if (line.rfind(w.name() + " ", 0) == 0) out.push_back(line.substr(w.name().size() + 1));
        return out;
    }
};

} // namespace

TEST_F(InfoWindows, ListsShowEveryNamedNumberOnceInOrderUnderTheBusyCursor) {
    struct List {
        const char* procedure;
        const char* database;
        int last;
    };
    for (const List l : {List{"WS_PROTO", "protocols", 256}, List{"WS_SERVIS", "services", 1023}}) {
        // One row a number, named or not for several protocols; none for 0 or
        // above the last (8080 is named, for one); names cut to 19 characters.
        std::vector<ui::Row> expected;
        std::vector<std::string> lines = {"open", "cursor wait"};
        for (const auto& [number, name] : getentNames(l.database)) {
            if (number < 1 || number > l.last) continue;
            expected.push_back({std::to_string(number), name.substr(0, 19)});
            lines.push_back("row 1 " + std::to_string(number) + "\t" + name.substr(0, 19));
        }
        lines.push_back("cursor normal");
        ASSERT_GT(expected.size(), 10u) << l.database << ": is netbase installed?";
        auto w = open(l.procedure);
        EXPECT_EQ(w->model().rows(tools::NameList::List), expected) << l.procedure;
        EXPECT_EQ(printed(*w), lines) << l.procedure;
    }
}

TEST_F(InfoWindows, StartupDataWindowShowsTheLayersValuesStartingItWhenNobodyHas) {
    for (bool started : {true, false}) {
        if (!started) {
            win::WSACleanup();
            shell::SocketsStarted = 0;
            shell::SocketsData = win::WSADATA{};
        }
        auto w = open("WS_INFO");
        EXPECT_EQ(shell::SocketsStarted.load(), 1);
        const win::WSADATA& data = shell::SocketsData;
        const ui::WindowModel& m = w->model();
        EXPECT_EQ(m.value(tools::WS_INFO::Version), "257");
        EXPECT_EQ(m.value(tools::WS_INFO::Description), std::string(data.szDescription));
        EXPECT_EQ(m.value(tools::WS_INFO::Status), std::string(data.szSystemStatus));
        EXPECT_EQ(m.value(tools::WS_INFO::MaxSockets), std::to_string(data.iMaxSockets));
        EXPECT_EQ(m.value(tools::WS_INFO::MaxUdp), std::to_string(data.iMaxUdpDg));
        w->postControl(tools::WS_INFO::OkButton);
        EXPECT_TRUE(waitUntil([&] { return w->isClosed(); }));
    }
    EXPECT_NE(win::getprotobynumber(6), nullptr); // the layer it started runs
}

TEST_F(InfoWindows, InternetStatusIsOneBoxOfTwoFieldsFromAnUnseenWindow) {
    // Where nothing can be read both fields stay blank (the rest through namespaces
    // in the program's own tests).
    auto w = desktop->start(std::make_unique<tools::Inet_stat>([] { return win::LinkStatus{}; }));
    // The window counts as closed a moment before its "closed" line is printed.
    ASSERT_TRUE(waitUntil([&] {
        const auto lines = printed(*w);
        return w->isClosed() && !lines.empty() && lines.back() == "closed";
    }));
    const std::string blank(32, ' ');
    EXPECT_EQ(printed(*w), (std::vector<std::string>{
                               "open", "box Internet status\tasterisk\t" + blank + "|" + blank,
                               "answer OK", "closed"}));
    EXPECT_FALSE(w->model().visible());
}
