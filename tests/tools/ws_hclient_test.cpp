#include "httpfixture.h"
#include "support/fullbacklog.h"
#include "support/webservers.h"
#include "tools/http/fetchrules.h"
#include "tools/http/ws_hclient.h"

#include <mutex>
#include <thread>
#include <zlib.h>

using namespace http_testing;
using tools::ws_HClient;

namespace {

// A peer that answers one request with the pieces given, a pause between them.
class RawPeer {
public:
    explicit RawPeer(std::vector<std::string> pieces) {
        port = freePort(SOCK_STREAM);
        m_listener = holdPort(SOCK_STREAM, port);
        m_thread = std::thread([this, pieces = std::move(pieces)] {
            const int fd = ::accept(m_listener, nullptr, nullptr);
            if (fd < 0) return;
            char buf[4096];
            std::string got;
            while (got.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0) break;
                got.append(buf, static_cast<std::size_t>(n));
            }
            {
                std::lock_guard lock(m_mutex);
                m_request = got;
            }
            for (const auto& p : pieces) {
                sendAll(fd, p);
                std::this_thread::sleep_for(std::chrono::milliseconds(60));
            }
            ::close(fd);
            // One request only: later connections are refused, not left waiting.
            ::shutdown(m_listener, SHUT_RDWR);
        });
    }
    ~RawPeer() {
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        ::close(m_listener);
    }
    int port = 0;
    // The request as it came, once it is whole.
    std::string request() const {
        std::lock_guard lock(m_mutex);
        return m_request;
    }

private:
    mutable std::mutex m_mutex;
    std::string m_request;
    int m_listener = -1;
    std::thread m_thread;
};

// Every link the client puts in its queue, also those the timer has taken out
// again by the time the test looks.
class QueueRecorder : public ui::ModelObserver {
public:
    void modelChanged(const ui::Change& c) override {
        if (c.kind != ui::Change::Kind::RowAppended || c.control != ws_HClient::QueueList) return;
        std::lock_guard lock(m_mutex);
        m_links.push_back(c.row.empty() ? "" : c.row[0]);
    }
    std::vector<std::string> links() const {
        std::lock_guard lock(m_mutex);
        return m_links;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_links;
};

struct HttpClient : HttpFixture {
    std::shared_ptr<ui::ToolWindow> client;

    void rules(const std::string& tags, const std::string& omit) {
        ScratchDir::write("Varlo.stp", tags);
        ScratchDir::write("Varlo.omt", omit);
    }
    QueueRecorder queued;

    ~HttpClient() override {
        if (client) client->model().removeObserver(&queued);
    }
    void open(const std::vector<std::string>& parameters) {
        client = desktop->start("ws_HClient", parameters);
        ASSERT_TRUE(client);
        client->model().addObserver(&queued);
        ASSERT_TRUE(waitUntil([&] { return client->isOpen(); }));
        client->invoke([] {}).get();
    }
    void type(int control, const std::string& value) {
        client->invoke([&] { client->applyInput(control, value); }).get();
    }
    void press(int control) {
        client->invoke([&] { client->applyPress(control); }).get();
    }
    std::vector<std::string> log() { return texts(*client, ws_HClient::LogList); }
    bool logged(const std::string& line) {
        return waitForText(*client, line, ws_HClient::LogList, 20000);
    }
    std::size_t count(const std::string& line) {
        const auto l = log();
        return static_cast<std::size_t>(std::count(l.begin(), l.end(), line));
    }
    bool idle() {
        bool idle = false;
        client->invoke([&] { idle = client->model().rowCount(ws_HClient::QueueList) == 0; }).get();
        return idle && client->model().heading(ws_HClient::QueueList, 0) == " Download Q -     ";
    }
};

} // namespace

TEST_F(HttpClient, MirrorsASiteServedByTheHttpServerByteForByte) {
    const Site site;
    site.write(www);
    int port = 0;
    auto server = startHttpServer(port);
    rules("HREF=\r\nSRC=\r\n", "ADS\n"); // CR LF tags, an omit file an editor here wrote
    WriteSetting("Client Settings", "HTCPClientIP", "127.0.0.1");
    WriteSetting("Client Settings", "HTCPoffsite", "1");
    open({"127.0.0.1", std::to_string(port), "index.htm"});
    ASSERT_TRUE(waitUntil(
        [&] {
            auto got = filesBeneath(dir.path() / "127.0.0.1");
            for (auto& [p, b] : filesBeneath(dir.path() / "localhost"))
                got["localhost/" + p] = b;
            std::map<std::string, std::string> mirrored;
            for (auto& [p, b] : got)
                mirrored[p.rfind("localhost/", 0) == 0 ? p : "127.0.0.1/" + p] = b;
            return mirrored == site.mirrored && idle() &&
                   client->model().value(ws_HClient::PictureName) == "pic.jpg";
        },
        60000))
        << "stored: " << filesBeneath(dir.path() / "127.0.0.1").size();
    EXPECT_TRUE(logged("Skip: index.htm")); // linked back from top.htm, already here
    EXPECT_EQ(client->model().value(ws_HClient::PictureArea),
              (dir.path() / "localhost/off/pic.jpg").string());
    EXPECT_EQ(client->model().value(ws_HClient::PictureName), "pic.jpg");
    EXPECT_FALSE(fs::exists(dir.path() / "127.0.0.1/quoted.htm"));
    EXPECT_FALSE(fs::exists(dir.path() / "127.0.0.1/ads"));
    EXPECT_EQ(client->model().caption().rfind("HTTP Client TCP Socket #", 0), 0u);
}

TEST_F(HttpClient, RequestIsSentAsWrittenAndAResponseInPiecesIsStoredDecoded) {
    const std::string body =
        std::string("abc\0def", 7) + std::string(20000, 'x') + "<a href=z.htm>";
    std::string chunked;
    for (std::size_t at = 0; at < body.size(); at += 9000) {
        const std::string part = body.substr(at, 9000);
        char size[16];
        std::snprintf(size, sizeof size, "%zx", part.size());
        chunked += std::string(size) + ";ext=1\r\n" + part + "\r\n";
    }
    chunked += "0\r\n\r\n";
    // Headers and chunks cut at awkward places.
    RawPeer peer({"HTTP/1.1 200 OK\r\nTransfer-", "Encoding: chunked\r\n",
                  "\r\n" + chunked.substr(0, 4), chunked.substr(4, 9003), chunked.substr(9007)});
    rules("HREF=\n", "");
    open({"", std::to_string(peer.port), ""});
    type(ws_HClient::PageEntry, "a/b/");
    press(ws_HClient::GoButton);
    ASSERT_TRUE(logged("closed."));
    ASSERT_TRUE(waitUntil([&] { return queued.links().size() == 1; }));
    EXPECT_EQ(peer.request(),
              tools::http::requestText("a/b/", "127.0.0.1", static_cast<std::uint16_t>(peer.port)));
    EXPECT_TRUE(ScratchDir::read(dir.path() / "127.0.0.1/a/b/index.htm") == body);
    // The field may show the queued link's path by now; the console kept them all.
    EXPECT_TRUE(
        console.has("ws_HClient#1 field 18 " + (dir.path() / "127.0.0.1/a/b/index.htm").string()));
    bool chunkedLine = false;
    for (const auto& l : log())
        chunkedLine |= l.rfind("http/1.* In: ", 0) == 0;
    EXPECT_TRUE(chunkedLine);
    EXPECT_EQ(queued.links(), std::vector<std::string>{"a/b/z.htm"});
    EXPECT_TRUE(
        console.has("ws_HClient#1 tip 18 " + (dir.path() / "127.0.0.1/a/b/index.htm").string()));
}

TEST_F(HttpClient, AGzipBodyIsStoredAsThePageItselfInFoldersFoundWithoutCase) {
    const std::string page = "<a href=g.htm>" + std::string(5000, 'g');
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY);
    std::string gz(deflateBound(&z, page.size()) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(page.data()));
    z.avail_in = static_cast<uInt>(page.size());
    z.next_out = reinterpret_cast<Bytef*>(gz.data());
    z.avail_out = static_cast<uInt>(gz.size());
    deflate(&z, Z_FINISH);
    gz.resize(z.total_out);
    deflateEnd(&z);
    RawPeer peer({"HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + gz});
    rules("HREF=\n", "");
    open({"", std::to_string(peer.port), ""});
    // A backslash separates folders; a folder there already is found without case.
    fs::create_directories(dir.path() / "127.0.0.1/Sub");
    type(ws_HClient::PageEntry, "sub\\page.htm");
    press(ws_HClient::GoButton);
    ASSERT_TRUE(logged("closed."));
    ASSERT_TRUE(waitUntil([&] { return queued.links().size() == 1; }));
    EXPECT_TRUE(ScratchDir::read(dir.path() / "127.0.0.1/Sub/page.htm") == page);
    EXPECT_EQ(queued.links(), std::vector<std::string>{"g.htm"});
}

TEST_F(HttpClient, AnUnresolvableNameIsReportedAndNothingIsFetched) {
    rules("HREF=\n", "");
    open({"", "1", ""});
    type(ws_HClient::ServerEntry, "no-such-host.invalid");
    for (int i = 1; i <= 2; ++i) {
        press(ws_HClient::GoButton);
        // Looked up again at every Go; never fetched from another address.
        ASSERT_TRUE(waitUntil([&] { return count("IP..") == static_cast<std::size_t>(i); }));
        ASSERT_TRUE(waitUntil([&] {
            const auto l = log();
            return !l.empty() && l.back().rfind("WSA", 0) == 0;
        })) << log().back();
    }
    EXPECT_EQ(count("Connecting..."), 0u);
    EXPECT_FALSE(fs::exists(dir.path() / "no-such-host.invalid/index.htm"));
}

TEST_F(HttpClient, PathsAndServersThatWouldLeaveTheServersFolderAreDropped) {
    rules("HREF=\n", "");
    open({"", "1", ""});
    struct Case {
        const char* server;
        const char* page;
        const char* line;
    };
    const Case cases[] = {
        {"127.0.0.1", "../../escape.htm", "Drop: ../../escape.htm"},
        {"127.0.0.1", "/etc/escape.htm", "Drop: /etc/escape.htm"},
        {"127.0.0.1", "a/..\\..\\escape.htm", "Drop: a/..\\..\\escape.htm"},
        {"..", "escape.htm", "Drop server: .."},
        {"../x", "escape.htm", "Drop server: ../x"},
    };
    for (const auto& c : cases) {
        type(ws_HClient::ServerEntry, c.server);
        type(ws_HClient::PageEntry, c.page);
        press(ws_HClient::GoButton);
        EXPECT_TRUE(logged(c.line)) << c.line;
    }
    EXPECT_EQ(count("Connecting..."), 0u);
    EXPECT_FALSE(fs::exists(dir.path().parent_path() / "escape.htm"));
    EXPECT_FALSE(fs::exists("/etc/escape.htm"));
}

TEST_F(HttpClient, GoDuringAFetchRemovesTheUnfinishedFile) {
    put("slow.bin", binary(200000, 7));
    put("default.htm", "done");
    int port = 0;
    auto server = startHttpServer(port, 100); // one chunk a second
    rules("HREF=\n", "");
    open({"", std::to_string(port), ""});
    type(ws_HClient::PageEntry, "slow.bin");
    press(ws_HClient::GoButton);
    const fs::path partial = dir.path() / "127.0.0.1/slow.bin";
    ASSERT_TRUE(
        waitUntil([&] { return fs::exists(partial) && fs::file_size(partial) > 0; }, 20000));
    type(ws_HClient::PageEntry, "default.htm");
    press(ws_HClient::GoButton);
    EXPECT_FALSE(fs::exists(partial));
    ASSERT_TRUE(waitUntil(
        [&] { return ScratchDir::read(dir.path() / "127.0.0.1/default.htm") == "done"; }, 20000));
}

TEST_F(HttpClient, AFileThatExistsIsFetchedAgainOnGoAndSkippedFromTheQueueUnlessWrittenOver) {
    put("p.htm", "<a href=p.htm><a href=q.htm>");
    put("q.htm", "q");
    int port = 0;
    auto server = startHttpServer(port);
    rules("HREF=\r\n", "");
    open({"", std::to_string(port), "p.htm"});
    press(ws_HClient::GoButton);
    ASSERT_TRUE(waitUntil(
        [&] {
            return count("Skip: p.htm") == 1 &&
                   ScratchDir::read(dir.path() / "127.0.0.1/q.htm") == "q";
        },
        20000));
    put("q.htm", "changed");
    press(ws_HClient::WriteOverBox);
    press(ws_HClient::GoButton);
    ASSERT_TRUE(waitUntil(
        [&] { return ScratchDir::read(dir.path() / "127.0.0.1/q.htm") == "changed"; }, 20000));
    closeWindow(client);
    const std::string ini = ScratchDir::read("VARlo.INI");
    EXPECT_NE(ini.find("HTCPPort=" + std::to_string(port) + "\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("HTCPforce=1\r\nHTCPfParse=0\r\nHTCPsend=p.htm\r\nHTCPoffsite=0\r\n"),
              std::string::npos)
        << ini;
}

TEST_F(HttpClient, MissingTagFileIsToldByBothMessages) {
    open({"", "", ""});
    const auto lines = console.lines();
    std::vector<std::string> boxes;
    for (const auto& l : lines)
        if (l.rfind("ws_HClient#1 box", 0) == 0) boxes.push_back(l);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NE(boxes[0].find("Kreiraj File: Varlo.stp  u kojem se|nalaze"), std::string::npos);
    EXPECT_NE(boxes[1].find("U File-u Varlo.stp, upi\xC5\xA1i|uvjete"), std::string::npos)
        << boxes[1];
}

TEST_F(HttpClient, AHostilePageNeverWritesOutsideTheServersFolderAndTheWindowStaysFree) {
    const char* hostile[] = {
        "<a href=../../../../escape1.htm>",  "<a href=//etc/escape2.htm>",
        "<img src=http://../escape3.gif>",   "<img src=\"http://localhost/../../escape4.gif\">",
        "<img src=http:///etc/escape5.gif>", "<a href=\"a/../../escape6.htm\">",
    };
    std::string page;
    page.reserve(16 << 20);
    for (int i = 0; i < 1000000; ++i) {
        page += hostile[i % 6];
        if (i % 1000 == 0)
            page += std::string("\0\0", 2) + "<a href=ok" + std::to_string(i % 3) + ".htm>";
    }
    page += "href=" + std::string(1 << 20, 'h') + " <a href=last.htm>";
    RawPeer peer({page});
    rules("HREF=\r\nSRC=\r\n", "");
    WriteSetting("Client Settings", "HTCPClientIP", "127.0.0.1");
    WriteSetting("Client Settings", "HTCPoffsite", "1");
    open({"", std::to_string(peer.port), "hostile.htm"});
    press(ws_HClient::GoButton);
    const auto slowest = [&] {
        auto worst = std::chrono::steady_clock::duration::zero();
        for (int i = 0; i < 5; ++i) {
            const auto start = std::chrono::steady_clock::now();
            client->invoke([] {}).get();
            worst = std::max(worst, std::chrono::steady_clock::now() - start);
        }
        return worst;
    };
    ASSERT_TRUE(logged("closed."));
    // The page is parsed a block at a time: the window answers meanwhile.
    EXPECT_LT(slowest(), std::chrono::seconds(2));
    // Six hostile links, each dropped once it comes out of the queue; the
    // harmless ones are fetched from a peer that is gone by then.
    ASSERT_TRUE(waitUntil(
        [&] {
            return idle() &&
                   count("Drop: //etc/escape2.htm") + count("Drop: /etc/escape2.htm") == 1;
        },
        60000))
        << log().back();
    EXPECT_LT(slowest(), std::chrono::seconds(5));
    for (const char* line :
         {"Drop: ../../../escape1.htm", "Drop server: ..", "Drop: ../../escape4.gif",
          "Drop server:", "Drop: a/../../escape6.htm"})
        EXPECT_EQ(count(line), 1u) << line;
    EXPECT_TRUE(ScratchDir::read(dir.path() / "127.0.0.1/hostile.htm") == page);
    for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
        const std::string rel = fs::relative(e.path(), dir.path()).string();
        EXPECT_TRUE(rel.rfind("127.0.0.1", 0) == 0 || rel.rfind("www", 0) == 0 ||
                    rel.rfind("Varlo.", 0) == 0 || rel == "VARlo.INI")
            << rel;
    }
    for (const auto& e : fs::directory_iterator(dir.path().parent_path()))
        EXPECT_EQ(e.path().filename().string().rfind("escape", 0), std::string::npos);
    EXPECT_FALSE(fs::exists("/etc/escape2.htm"));
    EXPECT_FALSE(fs::exists("/etc/escape5.gif"));
}

namespace {

// A server for each way a hostile or broken server answers, by path; any other
// path gets "ok" and its name. argv[1] is the port its off-site link names.
constexpr const char* kHostileServer = R"PY(
import socketserver, sys, zlib
ok, z = b"HTTP/1.1 200 OK\r\n", zlib.compressobj(9, zlib.DEFLATED, 31)
page = lambda body: ok + b"Content-Length: %d\r\n\r\n" % len(body) + body
once = {  # path: the whole answer
    "gzbomb": ok + b"Content-Encoding: gzip\r\n\r\n" + z.compress(bytes(64 << 20)) + z.flush(),
    "badgzip": ok + b"Content-Encoding: gzip\r\n\r\n\x1f\x8b\x08\x00" + b"not gzip" * 100,
    "short": ok + b"Content-Length: 100000\r\n\r\n0123456789",
    "cuthead": ok + b"Content-Len",
    "missing": b"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found",
    "ctl.htm": page(b'<a href="a\x7fb.htm"> <a href="c\xc2\x85d.htm"> <a href="e\xe2\x80\xaef.htm"> '
                    b'<a href="g\x9ah.htm">'),
    "off.htm": page(b'<img src="http://127.0.0.1:%s/off.gif">' % sys.argv[1].encode()),
    "links.htm": page(b"".join(b"<a href=p%d.htm>" % i for i in range(1500))),
}
endless = {  # path: the start, then a block sent for ever
    "endless": (ok + b"\r\n", b"x" * 65536),
    "endlesschunked": (ok + b"Transfer-Encoding: chunked\r\n\r\n", b"10000\r\n" + b"y" * 65536 + b"\r\n"),
    "endlessheader": (ok, b"X-Fill: " + b"z" * 1000 + b"\r\n"),
}
class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        path = self.rfile.readline().split(b" ")[1][1:].decode("latin-1")
        while self.rfile.readline() not in (b"\r\n", b""):
            pass
        try:
            if path in endless:
                self.wfile.write(endless[path][0])
                while True:
                    self.wfile.write(endless[path][1])
            self.wfile.write(once.get(path) or page(b"ok " + path.encode("latin-1")))
        except OSError:
            pass
socketserver.ThreadingTCPServer.daemon_threads = True
server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Handler)
print("port", server.server_address[1], flush=True)
server.serve_forever()
)PY";

testing_support::LocalServer hostileServer(const fs::path& dir, int otherPort) {
    const fs::path script = dir / "hostile.py";
    ScratchDir::write(script, kHostileServer);
    return testing_support::LocalServer(
        {testing_support::python(), "-u", script.string(), std::to_string(otherPort)});
}

} // namespace

TEST_F(HttpClient, AHostileServerGetsNoIncompleteFileNoRunawayDiskOrMemoryAndEachFailureIsSaid) {
    auto other = hostileServer(dir.path(), 0);
    const int otherPort = other.waitForPort("port ");
    auto hostile = hostileServer(dir.path(), otherPort);
    const int port = hostile.waitForPort("port ");
    const testing_support::FullBacklog backlog;
    ASSERT_TRUE(backlog.full());
    fs::create_directories(dir.path() / "127.0.0.1/coll"); // "coll" fetched after "coll/x.htm"
    rules("HREF=\r\nSRC=\r\n", "");
    open({"", std::to_string(port), ""});
    EXPECT_EQ(client->model().value(ws_HClient::LocalField), "index.htm");
    press(ws_HClient::OffSiteBox);
    const std::string off = "127.0.0.1:" + std::to_string(otherPort);
    struct Row {
        const char* behaviour;
        const char* page;
        int port;           // 0: the hostile server
        std::string line;   // said once the fetch ends ("" : none awaited)
        std::string stored; // beneath the current directory, "" : nothing
    };
    const Row rows[] = {
        // With the tool's own bounds; then lowered, so they are reached in a moment.
        {"gzip bomb past 100x and 16 MB", "gzbomb", 0, "Drop: gzbomb (expands past 100x)", ""},
        {"endless body past the ceiling", "endless", 0, "Drop: endless (over 4 MB)", ""},
        {"endless chunks", "endlesschunked", 0, "Drop: endlesschunked (over 4 MB)", ""},
        {"endless header", "endlessheader", 0, "Drop: endlessheader (header over 64 KB)", ""},
        {"damaged gzip", "badgzip", 0, "Drop: badgzip (damaged coding)", ""},
        {"shorter than its length", "short", 0, "Drop: short (closed after 10 of 100000 bytes)",
         ""},
        {"closed in its header", "cuthead", 0, "Drop: cuthead (closed in its header)", ""},
        {"error page", "missing", 0, "HTTP/1.1 404 Not Found", ""},
        {"a page where a folder is", "coll", 0, "Drop: coll (Is a directory)", ""},
        {"never accepts", "x.htm", backlog.port(), "WSAETIMEDOUT", ""},
        {"control bytes in link names", "ctl.htm", 0, "", "127.0.0.1/e%E2%80%AEf.htm"},
        {"off-site link with a port", "off.htm", 0, "", off + "/off.gif"},
        {"more links than the queue holds", "links.htm", 0, "Queue full: 500 links dropped",
         "127.0.0.1/links.htm"},
    };
    for (const Row& r : rows) {
        type(ws_HClient::ServerEntry, "127.0.0.1");
        type(ws_HClient::PortEntry, std::to_string(r.port ? r.port : port));
        type(ws_HClient::PageEntry, r.page);
        press(ws_HClient::GoButton);
        EXPECT_TRUE(r.line.empty() || logged(r.line)) << r.behaviour << ": " << log().back();
        const bool kept = !r.stored.empty();
        const fs::path file = dir.path() / (kept ? r.stored : "127.0.0.1/" + std::string(r.page));
        const bool came = kept && waitUntil([&] { return fs::exists(file); }, 20000);
        EXPECT_EQ(came, fs::is_regular_file(file)) << r.behaviour;
        client
            ->invoke([&] {
                static_cast<ws_HClient&>(*client).setBounds(
                    {4 << 20, 1000, std::chrono::seconds(1)});
            })
            .get();
    }
    for (const char* name : {"a%7Fb.htm", "c%C2%85d.htm", "g%9Ah.htm"})
        EXPECT_TRUE(waitUntil([&] { return fs::exists(dir.path() / "127.0.0.1" / name); })) << name;
    EXPECT_TRUE(waitUntil(
        [&] { return client->model().heading(ws_HClient::QueueList, 0) == " Download Q -  999"; }));
}
