// The servers and the port check over IPv6 with real peers on ::1: a client of
// each family to each server (curl for the HTTP server), and listeners on IPv6
// alone, in a program of their own, holding a port's IPv6 side.
#include "httpfixture.h"
#include "support/childprocess.h"
#include "tools/portcheck/port_chk.h"

#include <fstream>
#include <sstream>

using namespace http_testing;
using testing_support::ChildProcess;

namespace {

// python3 holding `port` on every IPv6 address: on IPv6 alone, or on both
// families with one socket.
std::unique_ptr<ChildProcess> ipv6Holder(int type, int port, bool v6only) {
    const char* script = "import socket,sys,time\n"
                         "tcp=sys.argv[1]=='tcp'\n"
                         "s=socket.socket(socket.AF_INET6,socket.SOCK_STREAM if tcp else "
                         "socket.SOCK_DGRAM)\n"
                         "s.setsockopt(socket.IPPROTO_IPV6,socket.IPV6_V6ONLY,int(sys.argv[3]))\n"
                         "s.bind(('::',int(sys.argv[2])))\n"
                         "tcp and s.listen(4)\n"
                         "print('ready',flush=True)\n"
                         "time.sleep(120)\n";
    auto holder = std::make_unique<ChildProcess>(
        std::vector<std::string>{"python3", "-c", script, type == SOCK_STREAM ? "tcp" : "udp",
                                 std::to_string(port), v6only ? "1" : "0"});
    EXPECT_TRUE(holder->waitForOutput("ready")) << holder->output();
    return holder;
}

// A socket of `family` on the loopback address, sending `data` to `port` there
// (connected first for a stream); its own address as the server logs it.
std::string sendFrom(int family, int type, int port, const std::string& data, int& fd) {
    sockaddr_storage to{};
    socklen_t length = sizeof(sockaddr_in);
    if (family == AF_INET) {
        reinterpret_cast<sockaddr_in&>(to) = testing_support::loopback(port);
    } else {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(to);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(static_cast<std::uint16_t>(port));
        v6.sin6_addr = in6addr_loopback;
        length = sizeof v6;
    }
    fd = ::socket(family, type | SOCK_CLOEXEC, 0);
    const auto* address = reinterpret_cast<const sockaddr*>(&to);
    if (type == SOCK_STREAM && ::connect(fd, address, length) != 0) return "<no connection>";
    if (::sendto(fd, data.data(), data.size(), MSG_NOSIGNAL, type == SOCK_STREAM ? nullptr : address,
                 type == SOCK_STREAM ? 0 : length) != static_cast<ssize_t>(data.size()))
        return "<not sent>";
    sockaddr_storage own{};
    socklen_t ownLength = sizeof own;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&own), &ownLength);
    const std::string port_ = std::to_string(ntohs(reinterpret_cast<sockaddr_in&>(own).sin_port));
    return family == AF_INET ? "127.0.0.1:" + port_ : "[::1]:" + port_;
}

struct Ipv6Servers : HttpFixture {
    std::shared_ptr<ui::ToolWindow> start(const std::string& tool, int port, int list) {
        WriteSetting("Http Settings", "WShttpPath", www.string() + "/", ".\\VARlo.ini");
        WriteSetting("Http Settings", "WShttpStr", "default.htm", ".\\VARlo.ini");
        WriteSetting("Http Settings", "WShttpDel", "1", ".\\VARlo.ini");
        auto w = desktop->start(tool, {std::to_string(port)});
        EXPECT_TRUE(w && waitUntil([&] {
                        for (const auto& t : texts(*w, list))
                            if (t.rfind("waiting to accept()", 0) == 0) return true;
                        return false;
                    }));
        w->invoke([] {}).get();
        return w;
    }
    static bool hasLineStarting(ui::ToolWindow& w, const std::string& start, int list) {
        for (const auto& t : texts(w, list))
            if (t.rfind(start, 0) == 0) return true;
        return false;
    }
};

} // namespace

TEST_F(Ipv6Servers, EachServerTakesPeersOfBothFamiliesAndSaysWhenItsIpv6PortIsTaken) {
    const std::string page = "<html>both families</html>";
    put("default.htm", page);
    struct Row {
        const char* tool;
        int type;
        int clientFamily;
        bool ipv6Held; // by another program, on IPv6 alone
        const char* heldLine;
    };
    const Row rows[] = {
        {"WS_Tcp", SOCK_STREAM, AF_INET6, false, ""},
        {"WS_Udp", SOCK_DGRAM, AF_INET6, false, ""},
        {"WS_http_s", SOCK_STREAM, AF_INET6, false, ""},
        {"WS_Tcp", SOCK_STREAM, AF_INET, true, "WSAEADDRINUSE (IPv6)"},
        {"WS_http_s", SOCK_STREAM, AF_INET, true, "wsaeaddrinuse (IPv6)"},
    };
    for (const auto& r : rows) {
        const std::string row = std::string(r.tool) + (r.ipv6Held ? " held" : " v6");
        const bool http = std::string(r.tool) == "WS_http_s";
        const int list = http ? tools::WS_http_s::LogList : 1;
        const int port = freePort(r.type);
        std::unique_ptr<ChildProcess> holder;
        if (r.ipv6Held) holder = ipv6Holder(r.type, port, true);
        auto server = start(r.tool, port, list);
        std::size_t ipv6Lines = 0;
        for (const auto& t : texts(*server, list))
            ipv6Lines += t.find("(IPv6)") != std::string::npos;
        EXPECT_EQ(ipv6Lines, r.ipv6Held ? 1u : 0u) << row;
        EXPECT_TRUE(!r.ipv6Held || hasText(*server, r.heldLine, list)) << row;
        const std::string host = r.clientFamily == AF_INET ? "127.0.0.1" : "[::1]";
        if (http) {
            const std::string out = (dir.path() / "fetched").string();
            EXPECT_EQ(run({"curl", "-g", "-s", "--http0.9", "-o", out, "http://" + host + ":" +
                                                         std::to_string(port) + "/"}),
                      0)
                << row;
            std::ifstream in(out, std::ios::binary);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), page) << row;
            EXPECT_TRUE(hasLineStarting(*server, host + ":", list)) << row;
        } else {
            int fd = -1;
            const std::string peer = sendFrom(r.clientFamily, r.type, port, "Hello Both\r\n", fd);
            const std::string shown = r.type == SOCK_STREAM ? "hello both\r\n" : peer + " Hello Both\r\n";
            EXPECT_TRUE(waitForText(*server, shown, list)) << row << " " << peer;
            EXPECT_TRUE(r.type != SOCK_STREAM || hasLineStarting(*server, peer + " accept #", list))
                << row;
            ::close(fd);
        }
        closeWindow(server);
    }
}

TEST_F(Ipv6Servers, PortCheckFindsAPortHeldOnIpv6AloneAndSaysSo) {
    const struct {
        int type;
        bool v6only;
        const char* after;
    } rows[] = {
        {SOCK_STREAM, true, " (IPv6)"},
        {SOCK_DGRAM, true, " (IPv6)"},
        {SOCK_STREAM, false, ""}, // both families on one socket: found by IPv4, said once
    };
    for (const auto& r : rows) {
        const int port = freePort(r.type);
        const auto holder = ipv6Holder(r.type, port, r.v6only);
        auto w = desktop->start("Port_chk");
        ASSERT_TRUE(w && waitUntil([&] { return w->isOpen(); }));
        const std::string p = std::to_string(port);
        w->invoke([&] {
             w->applyInput(tools::Port_chk::FirstEntry, p);
             w->applyInput(tools::Port_chk::LastEntry, p);
             w->applyPress(r.type == SOCK_STREAM ? tools::Port_chk::TcpOption
                                                 : tools::Port_chk::UdpOption);
             w->applyPress(tools::Port_chk::GoButton);
         }).get();
        const auto log = texts(*w, tools::Port_chk::Log);
        std::vector<std::string> found;
        for (const auto& t : log)
            if (t.rfind("Port: ", 0) == 0) found.push_back(t);
        EXPECT_EQ(found, std::vector<std::string>{"Port: " + p + " in use !" + r.after});
        EXPECT_EQ(log.back(), "***");
        closeWindow(w);
    }
}
