// The headless port check's holder lines against `ss -tulpnH` run by the same user:
// children of known names hold TCP and UDP ports of both families in a namespace of
// the test's own, one as nobody; the check runs as root and as nobody.
#include "platform/netnamespace.h"
#include "platform/scratchdir.h"
#include "program.h"
#include "support/childprocess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <list>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace {

using Holders = std::map<std::pair<std::string, int>, std::set<std::string>>; // (type, port)

// Name, type as ss says it, family; "nob" runs as nobody, "twt" leaves a TIME_WAIT
// on its port. Names this short keep every line within the log's 40 characters.
const char* kHolders[] = {"tc4 tcp 4", "tc6 tcp 6", "ud4 udp 4",
                          "ud6 udp 6", "nob tcp 4", "twt tcp 4"};
constexpr int kFirstPort = 20100; // holder i holds kFirstPort + i

// Holds a port on all addresses of its family (IPv6 takes IPv4 too) under its name.
const char* kHold = R"(import ctypes, socket, sys, time
name, kind, family = sys.argv[1].split(); port = sys.argv[2]
ctypes.CDLL(None).prctl(15, name.encode())
s = socket.socket(socket.AF_INET6 if family == "6" else socket.AF_INET,
                  socket.SOCK_STREAM if kind == "tcp" else socket.SOCK_DGRAM)
s.bind(("::" if family == "6" else "0.0.0.0", int(port)))
if kind == "tcp": s.listen()
if name == "twt":  # the accepted end closes first: it is the one left waiting
    c = socket.create_connection(("127.0.0.1", int(port))); s.accept()[0].close(); c.close()
print("ready", flush=True); time.sleep(120))";

std::vector<std::string> within(const NetNamespace& ns, bool nobody,
                                std::vector<std::string> command = {}) {
    std::vector<std::string> run{"ip", "netns", "exec", ns.name()};
    if (nobody)
        run.insert(run.end(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    run.insert(run.end(), command.begin(), command.end());
    return run;
}

// The port check's holder lines by type and port.
Holders fromPortCheck(const std::string& output) {
    Holders found;
    std::string type;
    int port = 0;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Port_chk#1 row 10 ", 0) != 0) continue;
        const std::string text = line.substr(line.find('\t') + 1);
        if (text.size() > 3 && text[3] == ':') type = text.substr(0, 3) == "TCP" ? "tcp" : "udp";
        if (text.rfind("Port: ", 0) == 0) port = std::stoi(text.substr(6));
        if (text.rfind("  held by ", 0) == 0) found[{type, port}].insert(text);
    }
    return found;
}

} // namespace

TEST(PortHolders, ThePortCheckNamesWhatSsNamesForEveryUser) {
    ScratchDir dir;
    NetNamespace ns("holders");
    if (!ns.made() || ::geteuid() != 0) GTEST_SKIP() << "needs root for namespaces and nobody";
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all); // nobody's settings
    auto nobodys = [](std::size_t i) { return std::string(kHolders[i]).rfind("nob", 0) == 0; };
    std::list<testing_support::ChildProcess> children;
    for (std::size_t i = 0; i < std::size(kHolders); ++i) {
        children.emplace_back(within(
            ns, nobodys(i),
            {"/usr/bin/python3", "-c", kHold, kHolders[i], std::to_string(kFirstPort + int(i))}));
        ASSERT_TRUE(children.back().waitForOutput("ready")) << children.back().output();
    }
    for (const bool nobody : {false, true}) {
        Program check(
            {"--headless", "--script", "-"},
            "open Port_chk\nset Port_chk 3 20100\nset Port_chk 5 20105\npress Port_chk TCP\n"
            "press Port_chk Go\npress Port_chk UDP\npress Port_chk Go\nquit\n",
            within(ns, nobody));
        ASSERT_EQ(check.wait(), 0) << check.output();
        testing_support::ChildProcess ssRun(within(ns, nobody, {"ss", "-tulpnH"}));
        ssRun.waitForOutput("\x01"); // until it ends
        const std::string& ss = ssRun.output();
        std::istringstream in(ss);
        Holders expected;
        static const std::regex local(R"(^(\w+) .*?:(\d+) )");
        for (std::string line; std::getline(in, line);) {
            std::smatch m;
            if (!std::regex_search(line, m, local)) continue;
            const std::size_t i = std::stoul(m[2]) - kFirstPort;
            if (i >= std::size(kHolders)) continue;
            auto& set = expected[{m[1], kFirstPort + int(i)}];
            static const std::regex user(R"re(\("([^"]+)",pid=(\d+))re");
            for (std::sregex_iterator u(line.begin(), line.end(), user), end; u != end; ++u)
                set.insert("  held by " + (*u)[1].str() + " (pid " + (*u)[2].str() + ", user " +
                           (nobodys(i) ? "nobody)" : "root)"));
            if (set.empty()) set.insert("  held by a process of another user");
            if (std::string(kHolders[i]).rfind("twt", 0) == 0)
                set.insert("  held by no process (TIME_WAIT)");
        }
        EXPECT_EQ(expected.size(), std::size(kHolders)) << ss;
        EXPECT_EQ(fromPortCheck(check.output()), expected) << check.output() << ss;
    }
}
