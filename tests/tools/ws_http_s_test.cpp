#include "httpfixture.h"

#include <fstream>
#include <thread>

using namespace http_testing;
using tools::WS_http_s;

namespace {

struct HttpServer : HttpFixture {
    int port = 0;
    std::shared_ptr<ui::ToolWindow> server;
    const std::string page = "<html>default</html>";
    const std::string big = binary(25000, 1);

    void SetUp() override {
        put("default.htm", page);
        put("Docs/Index.HTML", "mixed case\r\n");
        put("big.bin", big);
        put("a b.htm", "blank");
        put("NEWS.html", "upper news");
        put("news.html", "lower news");
        put("guide.html", "guide");
        put("Mixed.Case", "mixed");
        ScratchDir::write(dir.path() / "secret.txt", "outside");
        ScratchDir::write(dir.path() / "wwwsecret.txt", "beside");
        fs::create_symlink(dir.path() / "secret.txt", www / "link.txt");
        ::mkfifo((www / "fifo").c_str(), 0600);
        server = startHttpServer(port);
    }
};

} // namespace

TEST_F(HttpServer, RequestsGetTheRawFileOrNothingAndTheServerKeepsServing) {
    struct Case {
        const char* name;
        std::vector<std::string> request;
        std::string reply;
    };
    const std::string longLine = "GET /" + std::string(65536, 'a') + " HTTP/1.0\r\n\r\n";
    const Case cases[] = {
        {"default page", {"GET / HTTP/1.0\r\n\r\n"}, page},
        {"lower-cased path, mixed-case files",
         {"GET /Docs/Index.HTML HTTP/1.1\r\nHost: x\r\n\r\n"},
         "mixed case\r\n"},
        {"exact name first", {"GET /NEWS.html HTTP/1.0\r\n\r\n"}, "upper news"},
        {"lower-cased name next", {"GET /Guide.HTML HTTP/1.0\r\n\r\n"}, "guide"},
        {"then without case", {"GET /MIXED.case HTTP/1.0\r\n\r\n"}, "mixed"},
        {"three chunks", {"GET /big.bin HTTP/1.0\r\n\r\n"}, big},
        {"request line in two segments", {"GET /big.", "bin HTTP/1.0\r\n\r\n"}, big},
        {"no version", {"GET /default.htm\r\n\r\n"}, ""},
        {"not GET", {"POST /default.htm HTTP/1.0\r\n\r\n"}, ""},
        {"missing file", {"GET /none.htm HTTP/1.0\r\n\r\n"}, ""},
        {"climbs out after the rules", {"GET /docs/../../secret.txt HTTP/1.0\r\n\r\n"}, ""},
        {"climbs out twice", {"GET ../../secret.txt HTTP/1.0\r\n\r\n"}, ""},
        {"absolute", {"GET //etc/passwd HTTP/1.0\r\n\r\n"}, ""},
        {"symbolic link to outside", {"GET /link.txt HTTP/1.0\r\n\r\n"}, ""},
        {"directory", {"GET /docs HTTP/1.0\r\n\r\n"}, ""},
        {"pipe", {"GET /fifo HTTP/1.0\r\n\r\n"}, ""},
        {"64 KB line", {longLine}, ""},
        {"binary", {binary(3000, 2)}, ""},
        {"empty first line", {"\r\nGET / HTTP/1.0\r\n\r\n"}, ""},
        {"nothing at all", {}, ""},
        {"no line end, then closed", {"GET / HTTP/1.0"}, ""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> pieces = c.request;
        if (std::string(c.name) == "no line end, then closed") {
            const int fd = tcpConnect(port);
            sendAll(fd, pieces[0]);
            ::shutdown(fd, SHUT_WR);
            EXPECT_EQ(readToClose(fd), "") << c.name;
            ::close(fd);
            continue;
        }
        if (pieces.empty()) {
            // Connected and closed without a word.
            ::close(tcpConnect(port));
            continue;
        }
        EXPECT_TRUE(fetch(port, pieces) == c.reply) << c.name;
    }
    // Ten refused requests in a row hold no slot: the server still serves.
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(fetch(port, {"\r\n"}), "");
    EXPECT_EQ(fetch(port, {"GET / HTTP/1.0\r\n\r\n"}), page);

    EXPECT_GE(countContaining(*server, " accept #"), 12u);
    EXPECT_GE(countContaining(*server, "../secret.txt #"), 1u); // the refused path is logged
    const std::string heading = server->model().heading(WS_http_s::LogList, 1);
    EXPECT_EQ(heading.rfind(" Hit: ", 0), 0u) << heading;
    EXPECT_NE(heading.find("  sent: "), std::string::npos) << heading;
}

TEST_F(HttpServer, TenClientsAtOnceGetTheirOwnFilesAndAnEleventhIsToldTheServerIsBusy) {
    // Slow passes, so all ten are still being served when the eleventh comes.
    server->invoke([&] { server->applyInput(WS_http_s::DelaySpin, "50"); }).get();
    ASSERT_TRUE(waitUntil([&] {
        int period = 0;
        server->invoke([&] { period = server->timerPeriod(); }).get();
        return period == 50;
    }));
    std::vector<std::string> files;
    std::vector<int> peers;
    for (int i = 0; i < 10; ++i) {
        files.push_back(
            binary(60000 + static_cast<std::size_t>(i) * 1000, static_cast<unsigned>(i)));
        put("f" + std::to_string(i) + ".bin", files.back());
        peers.push_back(tcpConnect(port));
        ASSERT_GE(peers.back(), 0);
    }
    // All connect before any of them sends: each is served by its own socket.
    for (int i = 9; i >= 0; --i)
        sendAll(peers[static_cast<std::size_t>(i)],
                "GET /f" + std::to_string(i) + ".bin HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(waitUntil([&] { return countContaining(*server, " accept #") == 10; }, 20000));

    const int eleventh = tcpConnect(port);
    EXPECT_EQ(readToClose(eleventh), ""); // closed at once, nothing sent
    ::close(eleventh);
    EXPECT_TRUE(waitUntil([&] { return countContaining(*server, "server busy, closed #") == 1; }));
    EXPECT_TRUE(
        waitUntil([&] { return server->model().value(WS_http_s::ClientsDisplay) == "10"; }, 20000));

    server->invoke([&] { server->applyInput(WS_http_s::DelaySpin, "1"); }).get();
    for (int i = 0; i < 10; ++i) {
        const int fd = peers[static_cast<std::size_t>(i)];
        const std::string got = readToClose(fd);
        ::close(fd);
        EXPECT_TRUE(got == files[static_cast<std::size_t>(i)])
            << "client " << i << " got " << got.size();
    }
    EXPECT_TRUE(
        waitUntil([&] { return server->model().value(WS_http_s::ClientsDisplay).empty(); }));
}

TEST_F(HttpServer, TenConnectionsThatNeverAskAreClosedAfterTenSecondsAndOthersAreServedAgain) {
    std::vector<int> idle;
    for (int i = 0; i < 10; ++i)
        idle.push_back(tcpConnect(port));
    sendAll(idle[0], "GET / HT"); // a line that never ends holds a slot too
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE(fetch(port, {"GET / HTTP/1.0\r\n\r\n"}), page); // turned away while they hold
    std::string got;
    while (got != page && std::chrono::steady_clock::now() - start < std::chrono::seconds(20))
        if ((got = fetch(port, {"GET / HTTP/1.0\r\n\r\n"})) != page) ::usleep(500000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15)) << "served again";
    EXPECT_EQ(got, page);
    EXPECT_TRUE(waitUntil(
        [&] { return countContaining(*server, " no request in 10 s, closed") == 10; }, 20000));
    for (int fd : idle)
        ::close(fd);
}

TEST_F(HttpServer, APeerThatStopsReadingGetsTheRestLaterAndTheWindowStaysFree) {
    const std::string large = binary(256 << 10, 3);
    put("large.bin", large);
    const int fd = tcpConnect(port);
    int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sendAll(fd, "GET /large.bin HTTP/1.0\r\n\r\n");
    // While the peer reads nothing its buffers fill and sends would block; the
    // window still answers at once.
    ASSERT_TRUE(waitUntil([&] {
        const std::string h = server->model().heading(WS_http_s::LogList, 1);
        return h.find("  sent: ") != std::string::npos &&
               std::stol(h.substr(h.find("  sent: ") + 8)) >= 20480;
    }));
    for (int i = 0; i < 20; ++i) {
        const auto start = std::chrono::steady_clock::now();
        server->invoke([] {}).get();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }
    const std::string got = readToClose(fd, 30);
    ::close(fd);
    EXPECT_TRUE(got == large) << got.size();
}

TEST_F(HttpServer, RealClientsFetchTheExactBytes) {
    const std::string data = binary(300000, 4);
    put("data.bin", data);
    // Python's client wants a status line: the file brings its own.
    put("reply.bin", "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n" + data);
    const std::string url = "http://127.0.0.1:" + std::to_string(port);
    ASSERT_EQ(run({"curl", "-s", "--http0.9", "-o", "curl.out", url + "/Data.BIN"}), 0);
    EXPECT_TRUE(ScratchDir::read("curl.out") == data);
    ASSERT_EQ(run({"/usr/bin/python3", "-c",
                   "import sys, urllib.request\n"
                   "open('py.out', 'wb').write(urllib.request.urlopen(sys.argv[1]).read())",
                   url + "/reply.bin"}),
              0);
    EXPECT_TRUE(ScratchDir::read("py.out") == data);
}

TEST_F(HttpServer, SettingsAreReadAtOpenAndWrittenAtClose) {
    closeWindow(server);
    const std::string ini = ScratchDir::read("VARlo.INI");
    EXPECT_NE(ini.find("WShttpPath=" + www.string() + "/\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("WShttpStr=default.htm\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("WShttpDel=1\r\n"), std::string::npos) << ini;

    // A path without the other two: no default page and a stopped timer.
    ScratchDir::write("VARlo.INI", "[Http Settings]\r\nWShttpPath=/tmp/x/\r\n");
    auto again = desktop->start("WS_http_s", {std::to_string(freePort(SOCK_STREAM))});
    ASSERT_TRUE(waitForText(*again, "waiting to accept().", WS_http_s::LogList));
    again->invoke([] {}).get();
    EXPECT_EQ(again->model().value(WS_http_s::DirEntry), "/tmp/x/");
    EXPECT_EQ(again->model().value(WS_http_s::PageEntry), "");
    EXPECT_EQ(again->timerPeriod(), 0);
}
