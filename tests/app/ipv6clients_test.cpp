// The look-up window, the TCP/UDP client and both HTTP clients over either family,
// in the running program: it runs in a network namespace of the test's own, whose
// loopback also carries 2001:db8::1, with a hosts file of the test's own and a
// resolver that asks only that namespace, so no name or packet leaves it.
#include "app/program.h"
#include "platform/netnamespace.h"
#include "platform/scratchdir.h"
#include "support/childprocess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>

namespace {

// TCP and UDP echo servers and a web server per family, in the namespace: each
// echo answers a line with the line and the family it came in on ("hello@v6"), the
// web server answers any page with the Host line it was sent. Prints per family
// "v4|v6 TCPPORT UDPPORT HTTPPORT", then "ready".
constexpr const char* kServers = R"PY(
import http.server, socket, socketserver, threading

def stream(conn, tag):
    with conn:
        while True:
            data = conn.recv(1024)
            if not data:
                return
            conn.sendall(data.strip() + b"@" + tag + b"\r\n")

def tcp(sock, tag):
    while True:
        conn, _ = sock.accept()
        threading.Thread(target=stream, args=(conn, tag), daemon=True).start()

def udp(sock, tag):
    while True:
        data, peer = sock.recvfrom(2048)
        sock.sendto(data.strip() + b"@" + tag + b"\r\n", peer)

class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass
    def do_GET(self):
        body = ("Host: %s\r\n" % self.headers.get("Host")).encode()
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

def v6only(sock):
    sock.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)

for family, host, tag in ((socket.AF_INET, "127.0.0.1", b"v4"), (socket.AF_INET6, "::", b"v6")):
    class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
        address_family = family
        daemon_threads = True
        def server_bind(self):
            if family == socket.AF_INET6:
                v6only(self.socket)
            super().server_bind()
    web = Server((host, 0), Handler)
    listener = socket.socket(family, socket.SOCK_STREAM)
    dgram = socket.socket(family, socket.SOCK_DGRAM)
    for s in (listener, dgram):
        if family == socket.AF_INET6:
            v6only(s)
        s.bind((host, 0))
    listener.listen(16)
    for target, arg in ((tcp, listener), (udp, dgram)):
        threading.Thread(target=target, args=(arg, tag), daemon=True).start()
    threading.Thread(target=web.serve_forever, daemon=True).start()
    print(tag.decode(), listener.getsockname()[1], dgram.getsockname()[1],
          web.server_address[1], flush=True)
print("ready", flush=True)
threading.Event().wait()
)PY";

constexpr const char* kHosts = "127.0.0.1 localhost\n"
                               "::1 localhost\n"
                               "198.18.0.7 both.test\n"
                               "2001:db8::7 both.test\n"
                               "2001:db8::1 v6only.test\n";

struct Ports {
    std::string tcp, udp, http;
};

// The lines of `out` that `window` printed, holding `text`.
bool windowPrinted(const std::string& out, const std::string& window, const std::string& text) {
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with(window + " ") && line.find(text) != std::string::npos) return true;
    return false;
}

} // namespace

TEST(Ipv6Clients, LookUpClientAndHttpClientsReachEitherFamily) {
    ScratchDir dir;
    NetNamespace net("v6cl");
    ASSERT_TRUE(net.made()) << "no network namespace could be made";
    ASSERT_TRUE(net.ip("addr add 2001:db8::1/128 dev lo nodad"));
    ScratchDir::write("hosts", kHosts);
    ScratchDir::write("resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n");
    ScratchDir::write("servers.py", kServers);
    testing_support::ChildProcess servers(
        {"ip", "netns", "exec", net.name(), "python3", (dir.path() / "servers.py").string()});
    ASSERT_TRUE(servers.waitForOutput("ready\n")) << servers.output();
    Ports v4, v6;
    std::istringstream ports(servers.output());
    for (std::string tag; ports >> tag && tag != "ready";) {
        Ports& p = tag == "v4" ? v4 : v6;
        ports >> p.tcp >> p.udp >> p.http;
    }

    struct Row {
        const char* name;
        std::string script;       // what a person does, ending with a wait for the outcome
        std::string window;       // the window whose line shows the outcome
        std::string line;         // text of that line
        std::string file = {};    // a file stored beneath the current directory, if any
        std::string content = {}; // and what it holds
    };
    int clients = 0, fetchers = 0;
    const auto nameToAddress = [](const std::string& name) {
        return "set DNSx 6 " + name + "\npress DNSx IP..\nwaitfor DNSx \"box Name - IP\"\n";
    };
    const auto addressToName = [](const std::string& address) {
        return "set DNSx 7 " + address + "\npress DNSx Name..\nwaitfor DNSx \"box IP - Name\"\n";
    };
    const auto client = [&](const char* mode, const std::string& server, const std::string& port,
                            const char* outcome) {
        const std::string w = "WS_CLIENT#" + std::to_string(++clients);
        return "open WS_CLIENT " + port + " " + mode + "\nwaitfor " + w +
               " \"caption ws Client\"\nset " + w + " 2 " + server + "\npress " + w + " 5\nset " +
               w + " 6 hello\npress " + w + " Send\nwaitfor " + w + " \"" + outcome + "\"\n";
    };
    const auto fetch = [&](const std::string& server, const std::string& port) {
        const std::string w = "ws_HClient#" + std::to_string(++fetchers);
        return "open ws_HClient " + server + " " + port + " echo.htm\nwaitfor " + w +
               " closed. 20\n";
    };
    // The first download opens the window; IPv4 downloads have tests of their own.
    const auto download = [](const std::string& url) {
        return "set Http_asy 2 " + url +
               "\npress Http_asy Go\nwaitfor Http_asy \"field 14 5\" 30\n"
               // Back to idle: the file is closed.
               "waitfor Http_asy \"field 14\" 10\n";
    };
    const Row rows[] = {
        {"NameWithIpv4", nameToAddress("localhost"), "DNSx#1",
         "asterisk\t Host IP: 127.0.0.1| Host name: localhost"},
        {"NameWithBothShowsIpv4", nameToAddress("both.test"), "DNSx#1",
         "asterisk\t Host IP: 198.18.0.7| Host name: both.test"},
        {"NameWithIpv6Only", nameToAddress("v6only.test"), "DNSx#1",
         "asterisk\t Host IP: 2001:db8::1| Host name: v6only.test"},
        {"NameWithNone", nameToAddress("nosuch.invalid"), "DNSx#1",
         "hand\t Host IP: ?| Hosta name: nosuch.invalid"},
        {"Ipv4Address", addressToName("198.18.0.7"), "DNSx#1",
         "asterisk\t Host IP: 198.18.0.7| Hosta name: both.test"},
        {"Ipv6Address", addressToName("2001:db8:0:0::1"), "DNSx#1",
         "asterisk\t Host IP: 2001:db8:0:0::1| Hosta name: v6only.test"},
        {"Ipv6AddressWithoutName", addressToName("2001:db8::99"), "DNSx#1",
         "hand\t Host IP: 2001:db8::99| Hosta name:"},
        {"TcpIpv4", client("TCP", "127.0.0.1", v4.tcp, "hello@"), "WS_CLIENT#1", "\thello@v4"},
        {"TcpIpv6Literal", client("TCP", "::1", v6.tcp, "hello@"), "WS_CLIENT#2", "\thello@v6"},
        {"UdpBracketedLiteral", client("UDP", "[::1]", v6.udp, "hello@"), "WS_CLIENT#3",
         "\thello@v6"},
        {"TcpIpv6OnlyName", client("TCP", "v6only.test", v6.tcp, "hello@"), "WS_CLIENT#4",
         "\thello@v6"},
        {"UdpIpv6OnlyName", client("UDP", "v6only.test", v6.udp, "hello@"), "WS_CLIENT#5",
         "\thello@v6"},
        // A name with an IPv4 address is not looked up, as before: nothing answers.
        {"NameWithIpv4StaysUnresolved", client("TCP", "both.test", v4.tcp, "WSAE"), "WS_CLIENT#6",
         "\tWSAE"},
        {"RawIpv4", fetch("127.0.0.1", v4.http), "ws_HClient#1",
         "Out: GET /echo.htm HTTP/1.1\\r\\nHost: 127.0", "127.0.0.1/echo.htm",
         "Host: 127.0.0.1:" + v4.http + "\r\n"},
        {"RawIpv6Literal", fetch("::1", v6.http), "ws_HClient#2",
         "Out: GET /echo.htm HTTP/1.1\\r\\nHost: [::1]", "[::1]/echo.htm",
         "Host: [::1]:" + v6.http + "\r\n"},
        {"RawBracketedLiteral", fetch("[2001:db8::1]", v6.http), "ws_HClient#3", "closed.",
         "[2001:db8::1]/echo.htm", "Host: [2001:db8::1]:" + v6.http + "\r\n"},
        {"RawIpv6OnlyName", fetch("v6only.test", v6.http), "ws_HClient#4", "IP: [2001:db8::1]",
         "v6only.test/echo.htm", "Host: [2001:db8::1]:" + v6.http + "\r\n"},
        {"AsyncIpv6Literal", "open Http_asy\n" + download("http://[::1]:" + v6.http + "/echo.htm"),
         "Http_asy#1", "", "[::1]:" + v6.http + "/echo.htm", "Host: [::1]:" + v6.http + "\r\n"},
        {"AsyncIpv6OnlyName", download("http://v6only.test:" + v6.http + "/a.htm"), "Http_asy#1",
         "", "v6only.test:" + v6.http + "/a.htm", "Host: v6only.test:" + v6.http + "\r\n"},
    };
    std::string script = "waitfor DNSx open\n";
    for (const Row& r : rows)
        script += r.script;
    script += "quit\n";

    // The program enters the namespace, and a mount namespace where the test's
    // hosts file and resolver configuration are the system's.
    const int netFd = ::open(("/run/netns/" + net.name()).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(netFd, 0);
    const std::string hosts = (dir.path() / "hosts").string();
    const std::string resolv = (dir.path() / "resolv.conf").string();
    Program program({"--headless", "--script", "-"}, script, [&] {
        if (::setns(netFd, CLONE_NEWNET) != 0 || ::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0 ||
            ::mount(resolv.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0)
            ::_exit(125);
    });
    const int status = program.wait(120000);
    ::close(netFd);
    const std::string& out = program.output();
    ASSERT_NE(status, 125) << "the program could not enter the test's namespaces";
    // A failed command shows below as the row it belongs to.
    EXPECT_EQ(status, 0);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        if (!r.line.empty()) {
            EXPECT_TRUE(windowPrinted(out, r.window, r.line)) << r.window << " " << r.line;
        }
        if (!r.file.empty()) {
            EXPECT_EQ(ScratchDir::read(r.file), r.content) << r.file;
        }
    }
    EXPECT_EQ(out.find("timeout"), std::string::npos) << out;
}
