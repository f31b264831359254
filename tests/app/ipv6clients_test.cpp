// The look-up, the TCP/UDP client and both HTTP clients over IPv6 in the running program, in a
// network namespace (2001:db8::1 on its loopback) with the test's own hosts and resolver files.
#include "app/program.h"
#include "platform/netnamespace.h"
#include "platform/scratchdir.h"
#include "support/childprocess.h"

#include <gtest/gtest.h>

TEST(Ipv6Clients, LookUpClientAndHttpClientsReachIpv6) {
    ScratchDir dir;
    NetNamespace net("v6cl");
    ASSERT_TRUE(net.made() && net.ip("addr add 2001:db8::1/128 dev lo nodad"));
    ScratchDir::write("hosts", "2001:db8::1 v6.test\n");
    ScratchDir::write("resolv.conf", "nameserver 127.0.0.1\n");
    ScratchDir::write("a.htm", "page");
    const auto inside = [&](std::vector<std::string> command) {
        command.insert(command.begin(), {"ip", "netns", "exec", net.name(), "python3", "-u"});
        return std::make_unique<testing_support::ChildProcess>(command);
    };
    // A web server with a.htm, and TCP and UDP echoes.
    auto web = inside({"-m", "http.server", "--bind", "::", "0"});
    auto echo = inside(
        {"-c", "import socket as o, threading\nt = o.create_server(('::', 0), "
               "family=o.AF_INET6)\nu = o.socket(o.AF_INET6, o.SOCK_DGRAM)\n"
               "u.bind(('::', 0))\nprint('port', t.getsockname()[1], u.getsockname()[1])\n"
               "threading.Thread(target=lambda: [u.sendto(*u.recvfrom(99)) for _ in "
               "iter(int, 1)]).start()\nwhile True: c = t.accept()[0]; c.sendall(c.recv(99))"});
    ASSERT_TRUE(web->waitForOutput(") ...") && echo->waitForOutput("\n"));
    const auto portOf = [](const auto& child) {
        return std::to_string(std::stoi(child->output().substr(child->output().find("port ") + 5)));
    };
    const std::string http = portOf(web), tcp = portOf(echo);
    const std::string udp = std::to_string(std::stoi(echo->output().substr(6 + tcp.size())));

    const auto client = [](const char* mode, const char* server, const std::string& port) {
        const std::string set = "\nset WS_CLIENT ", press = "\npress WS_CLIENT ";
        return "open WS_CLIENT " + port + " " + mode + "\nwaitfor WS_CLIENT \"caption ws\"" + set +
               "2 " + server + press + "5" + set + "6 hello-" + mode + press +
               "Send\nwaitfor WS_CLIENT reading\n";
    };
    struct Row {
        std::string script, line, file = {};
    };
    const Row rows[] = {
        {"set DNSx 6 v6.test\npress DNSx IP..\nwaitfor DNSx \"box \"\n",
         "asterisk\t Host IP: 2001:db8::1| Host name: v6.test"},
        {"set DNSx 7 2001:db8:0::1\npress DNSx Name..\nwaitfor DNSx \"box \"\n",
         "asterisk\t Host IP: 2001:db8:0::1| Hosta name: v6.test"},
        {client("TCP", "::1", tcp), "\thello-TCP"},
        {client("UDP", "v6.test", udp), "\thello-UDP"},
        {"open ws_HClient ::1 " + http + " a.htm\nwaitfor ws_HClient#1 closed. 20\n",
         "Out: GET /a.htm HTTP/1.1\\r\\nHost: [::1]:", "[::1]/a.htm"},
        {"open ws_HClient v6.test " + http + " a.htm\nwaitfor ws_HClient#2 closed. 20\n",
         "IP: [2001:db8::1]", "v6.test/a.htm"},
        {"open Http_asy\nset Http_asy 2 http://[::1]:" + http +
             "/a.htm\npress Http_asy Go\n"
             "waitfor Http_asy \"field 14 5\" 30\nwaitfor Http_asy \"field 14\"\n",
         "Handle closed.", "[::1]:" + http + "/a.htm"},
    };
    std::string script = "waitfor DNSx open\n";
    for (const Row& r : rows)
        script += r.script;
    Program program({"--headless", "--script", "-"}, script + "quit\n",
                    {"ip", "netns", "exec", net.name(), "unshare", "-m", "sh", "-c",
                     "mount --bind hosts /etc/hosts && mount --bind resolv.conf /etc/resolv.conf "
                     "&& exec \"$@\"",
                     "sh"});
    const int status = program.wait(90000);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.script);
        EXPECT_NE(program.output().find(r.line), std::string::npos) << r.line;
        EXPECT_EQ(r.file.empty() ? "page" : ScratchDir::read(r.file), "page") << r.file;
    }
    EXPECT_EQ(status, 0) << program.output();
}
