// Who holds a port, as the headless port check names it, held against `ss -tulpnH`
// run by the same user: children of known names hold TCP and UDP ports of both
// families in a network namespace of the test's own, one of them as nobody, and the
// check runs once as root and once as nobody.
#include "trapnamespace.h"

#include <grp.h>
#include <map>
#include <pwd.h>
#include <regex>
#include <set>
#include <sys/prctl.h>

namespace {

using Holders = std::map<std::pair<std::string, int>, std::set<std::string>>; // (type, port)

struct Holder {
    const char* name;
    int type;
    int family;
    bool nobody;   // runs as nobody
    bool timeWait; // leaves a connection of its own in TIME_WAIT on its port
};
const Holder kHolders[] = {
    {"wstcp4", SOCK_STREAM, AF_INET, false, false},  {"wstcp6", SOCK_STREAM, AF_INET6, false, false},
    {"wsudp4", SOCK_DGRAM, AF_INET, false, false},   {"wsudp6", SOCK_DGRAM, AF_INET6, false, false},
    {"wsnobody", SOCK_STREAM, AF_INET, true, false}, {"wstimewait", SOCK_STREAM, AF_INET, false, true},
};
constexpr int kFirstPort = 20100; // holder i holds kFirstPort + i

void becomeNobody() {
    if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
        ::setresuid(65534, 65534, 65534) != 0)
        ::_exit(125);
    // As a program started as nobody would be: its owner may look into its /proc.
    ::prctl(PR_SET_DUMPABLE, 1);
}

// The child holding `h`'s port on every address of its family (an IPv6 one takes
// IPv4 too); its pid once it holds it. System calls only, as a child of a forked test.
pid_t hold(const Holder& h, int port) {
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_NAME, h.name);
        if (h.nobody) becomeNobody();
        sockaddr_in6 a{};
        a.sin6_family = sa_family_t(h.family);
        a.sin6_port = htons(std::uint16_t(port)); // where sockaddr_in has its port too
        const socklen_t len = h.family == AF_INET ? sizeof(sockaddr_in) : sizeof a;
        const int fd = ::socket(h.family, h.type, 0);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
            (h.type == SOCK_STREAM && ::listen(fd, 4) != 0))
            ::_exit(124);
        if (h.timeWait) { // the accepted end closes first: it is the one left waiting
            const int client = ::socket(AF_INET, SOCK_STREAM, 0);
            const sockaddr_in to = testing_support::loopback(port);
            ::connect(client, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            ::close(::accept(fd, nullptr, nullptr));
            ::close(client);
        }
        if (::write(ready[1], "1", 1) == 1) ::pause();
        ::_exit(0);
    }
    char c = 0;
    ::close(ready[1]);
    pollfd p{ready[0], POLLIN, 0};
    const bool held = ::poll(&p, 1, 10000) == 1 && ::read(ready[0], &c, 1) == 1;
    ::close(ready[0]);
    return held ? pid : -1;
}

// The port check's holder lines by type and port: "name/pid/user", "other" or
// "none:STATE". A line the log's width broke goes on with four blanks.
Holders fromPortCheck(const std::string& output) {
    Holders found;
    std::string type, last;
    int port = 0;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Port_chk#1 row 10 ", 0) != 0) continue;
        std::string text = line.substr(line.find('\t') + 1);
        std::smatch m;
        if (text.size() > 5 && text[3] == ':') type = text.substr(0, 3);
        if (std::regex_match(text, m, std::regex(R"(Port: (\d+) in use !)"))) port = std::stoi(m[1]);
        if (text.rfind("    ", 0) == 0) text = last + " " + text.substr(4);
        last = text;
        auto& set = found[{type, port}];
        if (std::regex_match(text, m, std::regex(R"(  held by (\S+) \(pid (\d+), user (\S+)\))")))
            set.insert(std::string(m[1]) + "/" + std::string(m[2]) + "/" + std::string(m[3]));
        else if (text == "  held by a process of another user")
            set.insert("other");
        else if (std::regex_match(text, m, std::regex(R"(  held by no process \((\S+)\))")))
            set.insert("none:" + std::string(m[1]));
        if (set.empty()) found.erase({type, port});
    }
    return found;
}

} // namespace

TEST(PortHolders, ThePortCheckNamesWhatSsNamesForEveryUser) {
    ScratchDir dir;
    TrapNamespace ns;
    if (!ns.ready() || ::geteuid() != 0) GTEST_SKIP() << "needs root for namespaces and nobody";
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
    const std::string root = ::getpwuid(0)->pw_name;
    std::vector<pid_t> children;
    std::map<std::string, std::string> userOf;
    ASSERT_TRUE(ns.inside([&] {
        for (std::size_t i = 0; i < std::size(kHolders); ++i) {
            children.push_back(hold(kHolders[i], kFirstPort + int(i)));
            userOf[kHolders[i].name] = kHolders[i].nobody ? "nobody" : root;
        }
    }));
    const std::string range = "set Port_chk 3 " + std::to_string(kFirstPort) + "\nset Port_chk 5 " +
                              std::to_string(kFirstPort + int(std::size(kHolders)) - 1) + "\n";
    for (const bool asNobody : {false, true}) {
        std::unique_ptr<Program> check;
        ns.inside([&] {
            check = std::make_unique<Program>(
                std::vector<std::string>{"--headless", "--script", "-"},
                "open Port_chk\n" + range + "press Port_chk TCP\npress Port_chk Go\n" +
                    "press Port_chk UDP\npress Port_chk Go\nquit\n",
                std::vector<std::string>{}, [asNobody] {
                    if (asNobody) becomeNobody();
                });
        });
        ASSERT_EQ(check->wait(), 0) << check->output();
        const std::string ss = ns.run(std::string(asNobody ? "setpriv --reuid=65534 --regid=65534 "
                                                             "--clear-groups "
                                                           : "") +
                                      "ss -tulpnH");
        Holders expected;
        std::istringstream in(ss);
        for (std::string line; std::getline(in, line);) {
            std::istringstream fields(line);
            std::string netid, state, rq, sq, local;
            fields >> netid >> state >> rq >> sq >> local;
            const int port = std::stoi(local.substr(local.rfind(':') + 1));
            if (port < kFirstPort || port >= kFirstPort + int(std::size(kHolders))) continue;
            auto& set = expected[{netid == "tcp" ? "TCP" : "UDP", port}];
            static const std::regex user(R"re(\("([^"]+)",pid=(\d+))re");
            for (std::sregex_iterator u(line.begin(), line.end(), user), end; u != end; ++u)
                set.insert((*u)[1].str() + "/" + (*u)[2].str() + "/" + userOf[(*u)[1].str()]);
            if (set.empty()) set.insert("other");
            if (kHolders[port - kFirstPort].timeWait) set.insert("none:TIME_WAIT");
        }
        EXPECT_EQ(expected.size(), std::size(kHolders)) << ss;
        EXPECT_EQ(fromPortCheck(check->output()), expected) << check->output() << ss;
    }
    for (const pid_t child : children) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
}
