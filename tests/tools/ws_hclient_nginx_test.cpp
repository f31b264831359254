// The raw HTTP client against a real HTTP/1.1 server a user would run: nginx on
// a free loopback port with its own configuration, gzip and chunked replies on.
#include "httpfixture.h"
#include "tools/http/ws_hclient.h"

#include <csignal>
#include <fstream>

using namespace http_testing;
using tools::ws_HClient;

namespace {

const char* nginxProgram() {
    for (const char* p : {"/usr/sbin/nginx", "/usr/bin/nginx"})
        if (::access(p, X_OK) == 0) return p;
    return nullptr;
}

struct Nginx : HttpFixture {
    pid_t pid = -1;
    int port = 0;

    void SetUp() override {
        if (!nginxProgram())
            GTEST_SKIP()
                << "nginx is not installed (Debian package nginx-light; scripts/install-deps "
                   "installs it where the package can be had)";
        port = freePort(SOCK_STREAM);
        const fs::path conf = dir.path() / "nginx";
        fs::create_directories(conf);
        std::ofstream(conf / "nginx.conf")
            << "daemon off;\nmaster_process off;\nworker_processes 1;\nuser root;\n"
            << "pid " << (conf / "nginx.pid").string() << ";\n"
            << "error_log " << (conf / "error.log").string() << ";\n"
            << "events { worker_connections 64; }\n"
            << "http {\n  access_log off;\n"
            << "  client_body_temp_path " << conf.string() << ";\n"
            << "  proxy_temp_path " << conf.string() << ";\n"
            << "  fastcgi_temp_path " << conf.string() << ";\n"
            << "  uwsgi_temp_path " << conf.string() << ";\n"
            << "  scgi_temp_path " << conf.string() << ";\n"
            << "  types { text/html htm html; image/gif gif; image/jpeg jpg; }\n"
            // Compressed replies have no length known in advance: they go chunked.
            << "  gzip on;\n  gzip_min_length 1;\n  gzip_types text/html image/gif;\n"
            << "  server {\n    listen 127.0.0.1:" << port << ";\n"
            << "    root " << www.string() << ";\n  }\n}\n";
        pid = ::fork();
        if (pid == 0) {
            const std::string c = (conf / "nginx.conf").string();
            ::execl(nginxProgram(), "nginx", "-p", conf.c_str(), "-c", c.c_str(), nullptr);
            ::_exit(127);
        }
        ASSERT_TRUE(waitUntil(
            [&] {
                const int fd = tcpConnect(port);
                if (fd >= 0) ::close(fd);
                return fd >= 0;
            },
            20000))
            << ScratchDir::read(conf / "error.log");
    }
    void TearDown() override {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

} // namespace

TEST_F(Nginx, TheSiteIsMirroredFromGzipAndChunkedRepliesAsTheOriginalFiles) {
    const Site site;
    site.write(www);
    // nginx really answers compressed and chunked.
    const std::string reply =
        fetch(port, {"GET /docs/a.htm HTTP/1.1\r\nHost: x\r\nAccept-Encoding: "
                     "gzip\r\nConnection: close\r\n\r\n"});
    ASSERT_NE(reply.find("Content-Encoding: gzip"), std::string::npos) << reply.substr(0, 300);
    ASSERT_NE(reply.find("Transfer-Encoding: chunked"), std::string::npos) << reply.substr(0, 300);

    ScratchDir::write("Varlo.stp", "HREF=\nSRC=\n");
    ScratchDir::write("Varlo.omt", "ADS\r\n");
    WriteSetting("Client Settings", "HTCPClientIP", "127.0.0.1");
    WriteSetting("Client Settings", "HTCPoffsite", "1");
    auto client = desktop->start("ws_HClient", {"127.0.0.1", std::to_string(port), "index.htm"});
    ASSERT_TRUE(client);
    std::map<std::string, std::string> got;
    const bool mirrored = waitUntil(
        [&] {
            got.clear();
            for (auto& [p, b] : filesBeneath(dir.path() / "127.0.0.1"))
                got["127.0.0.1/" + p] = b;
            for (auto& [p, b] : filesBeneath(dir.path() / "localhost"))
                got["localhost/" + p] = b;
            return got == site.mirrored;
        },
        60000);
    ASSERT_TRUE(mirrored) << got.size() << " files stored";
    bool chunkedLine = false;
    for (const auto& row : client->model().rows(ws_HClient::LogList))
        chunkedLine |= row.size() > 1 && row[1].rfind("http/1.* In: ", 0) == 0;
    EXPECT_TRUE(chunkedLine);
}

TEST_F(Nginx, TodaysLinksAreFetchedOnceEachAsSpelledAndAnErrorPageIsNoPage) {
    const std::string index = "<a href=\"Guide.html#options\"> <a href=\"Guide.html#b\"> "
                              "<a href=\"Guide.html\"> <a href=\"#top\"> <a href=\"NEWS.html\"> "
                              "<a href=\"missing.html\">";
    const std::string guide = "<a href=\"index.html\"> <a href=\"NEWS.html#x\"> <a href=news.html>";
    put("index.html", index);
    put("Guide.html", guide);
    put("NEWS.html", "upper news");
    put("news.html", "lower news");
    ScratchDir::write("Varlo.stp", "HREF=\n");
    WriteSetting("Client Settings", "HTCPClientIP", "127.0.0.1");
    WriteSetting("Client Settings", "HTCPforce", "1"); // "write over": still once a run
    auto client = desktop->start("ws_HClient", {"127.0.0.1", std::to_string(port), "index.html"});
    const std::map<std::string, std::string> site = {{"index.html", index},
                                                     {"Guide.html", guide},
                                                     {"NEWS.html", "upper news"},
                                                     {"news.html", "lower news"}};
    const auto count = [&](const std::string& start) { // lines that begin so
        const auto l = texts(*client, ws_HClient::LogList);
        return std::count_if(l.begin(), l.end(),
                             [&](const auto& t) { return t.starts_with(start); });
    };
    ASSERT_TRUE(waitUntil(
        [&] {
            return filesBeneath(dir.path() / "127.0.0.1") == site &&
                   count("HTTP/1.1 404 Not Found") &&
                   client->model().heading(ws_HClient::QueueList, 0) == " Download Q -     ";
        },
        30000));
    const std::pair<const char*, long> requests[] = {
        {"Out: GET /Guide.html HTTP/1.1\r", 1}, // its fragments are the same page
        {"Out: GET /NEWS.html HTTP/1.1\r", 1},  // the case kept on the wire and on disk
        {"Out: GET /index.html HTTP/1.1\r", 1}, // linked back: not fetched again this run
        {"Out: GET / HTTP/1.1\r", 0},           // "#top" is the page itself
    };
    for (const auto& [line, times] : requests)
        EXPECT_EQ(count(line), times) << line;
}
