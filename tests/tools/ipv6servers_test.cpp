// The servers and the port check over IPv6, with peers on ::1 in programs of their
// own: python3 clients and IPv6-only listeners, curl for the HTTP server.
#include "httpfixture.h"
#include "support/childprocess.h"
#include "tools/portcheck/port_chk.h"

using namespace http_testing;
using Ipv6Servers = HttpFixture;

// "hold" binds the port on every IPv6 address, on IPv6 alone or not, and waits;
// "send" sends a line from `host` and says from which port.
static const char* const kPeer = R"(import socket,sys,time
mode,kind,host,port,only=sys.argv[1:]
s=socket.socket(socket.AF_INET6 if ':' in host else socket.AF_INET,socket.SOCK_STREAM if kind=='tcp' else socket.SOCK_DGRAM)
if mode=='hold':
  s.setsockopt(socket.IPPROTO_IPV6,socket.IPV6_V6ONLY,int(only));s.bind((host,int(port)))
  kind=='tcp' and s.listen(4);print('ready',flush=True);time.sleep(60)
s.connect((host,int(port)));s.send(b'Hello Both\r\n');print('from',s.getsockname()[1],'.',flush=True)
time.sleep(1))";

TEST_F(Ipv6Servers, ServersTakeBothFamiliesAndThePortCheckFindsIpv6AloneListeners) {
    ScratchDir::write("default.htm", "<p>both</p>"); // the HTTP server's page by default
    // The tool, its list, its socket type, the client's host ("0"/"1": the holder's
    // IPV6_V6ONLY), and the line a holder on IPv6 makes the tool log ("%": the port).
    const struct {
        std::string tool;
        int list, type;
        std::string host, line;
    } rows[] = {{"WS_Tcp", 1, SOCK_STREAM, "::1", ""},
                {"WS_Udp", 1, SOCK_DGRAM, "::1", ""},
                {"WS_http_s", 11, SOCK_STREAM, "::1", ""},
                {"WS_Tcp", 1, SOCK_STREAM, "127.0.0.1", "WSAEADDRINUSE (IPv6)"},
                {"WS_http_s", 11, SOCK_STREAM, "127.0.0.1", "wsaeaddrinuse (IPv6)"},
                {"Port_chk", 10, SOCK_STREAM, "1", "Port: % in use ! (IPv6)"},
                {"Port_chk", 10, SOCK_DGRAM, "1", "Port: % in use ! (IPv6)"},
                {"Port_chk", 10, SOCK_STREAM, "0", "Port: % in use !"}}; // found once, over IPv4
    for (auto r : rows) {
        const std::string p = std::to_string(freePort(r.type));
        if (r.line.find('%') != std::string::npos) r.line.replace(r.line.find('%'), 1, p);
        const auto peer = [&](const std::string& mode, const std::string& host) {
            auto c = std::make_unique<testing_support::ChildProcess>(std::vector<std::string>{
                "python3", "-c", kPeer, mode, r.type == SOCK_STREAM ? "tcp" : "udp", host, p,
                r.host == "0" ? "0" : "1"});
            EXPECT_TRUE(c->waitForOutput(mode == "hold" ? "ready" : " .")) << c->output();
            return c;
        };
        const auto holder = r.line.empty() ? nullptr : peer("hold", "::");
        auto w = desktop->start(r.tool, {p});
        ASSERT_TRUE(waitUntil([&] { return w->isOpen(); }));
        w->invoke([&] {
             if (r.tool != "Port_chk") return; // a server's start-up is done
             w->applyInput(tools::Port_chk::FirstEntry, p);
             w->applyInput(tools::Port_chk::LastEntry, p);
             w->applyPress(r.type == SOCK_STREAM ? tools::Port_chk::TcpOption
                                                 : tools::Port_chk::UdpOption);
             w->applyPress(tools::Port_chk::GoButton);
         }).get();
        std::string from = r.host == "::1" ? "\n[::1]:" : "\n127.0.0.1:";
        if (r.tool == "WS_http_s") {
            const std::string url = "http://" + from.substr(1) + p + "/";
            EXPECT_EQ(run({"curl", "-gsm", "20", "--http0.9", "-o", "got", url}), 0);
            EXPECT_EQ(ScratchDir::read("got"), "<p>both</p>");
        } else if (r.tool != "Port_chk") {
            const std::string said = peer("send", r.host)->output();
            from += said.substr(5, said.find(" .") - 5) +
                    (r.type == SOCK_STREAM ? " accept #" : " Hello Both");
        }
        EXPECT_TRUE(r.tool == "Port_chk" || waitUntil([&] {
                        std::string all;
                        for (const auto& t : texts(*w, r.list))
                            all += "\n" + t;
                        return all.find(from) != std::string::npos;
                    }))
            << r.tool;
        std::vector<std::string> added;
        for (const auto& t : texts(*w, r.list))
            if (t.find("held by") != std::string::npos)
                added.push_back("held by"); // the holder alone, python3
            else if (t.find("(IPv6)") != std::string::npos ||
                     t.find(" in use !") != std::string::npos)
                added.push_back(t);
        EXPECT_EQ(added, (r.line.empty() ? std::vector<std::string>{}
                                         : std::vector<std::string>{r.line, "held by"}))
            << r.tool;
        closeWindow(w);
    }
}
