#pragma once
// The HTTP server and the raw HTTP client running as tools, a served folder of
// files, and peers made of bare sockets or real programs on 127.0.0.1.
#include "plainfixture.h"
#include "settings/settingsfile.h"
#include "tools/http/ws_http_s.h"

#include <filesystem>
#include <map>
#include <sys/wait.h>

namespace http_testing {

using namespace plain_testing;
namespace fs = std::filesystem;

// What a connected peer receives until the other side closes (or `seconds` pass
// without a byte, which adds "<timeout>").
inline std::string readToClose(int fd, int seconds = 20) {
    timeval limit{seconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string got;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            if (n < 0) got += "<timeout>";
            return got;
        }
        got.append(buf, static_cast<std::size_t>(n));
    }
}

// Every byte a peer gets for `request` (sent in the pieces given) until the
// server closes the connection; the request is sent once connected.
inline std::string fetch(int port, const std::vector<std::string>& pieces, int seconds = 20) {
    const int fd = tcpConnect(port);
    if (fd < 0) return "<no connection>";
    for (const auto& p : pieces) {
        sendAll(fd, p);
        if (pieces.size() > 1) ::usleep(50000); // apart, as two segments
    }
    const std::string got = readToClose(fd, seconds);
    ::close(fd);
    return got;
}

// A program's exit status; its output goes to the file named.
inline int run(const std::vector<std::string>& args) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Bytes that are not text: every value, in a pattern set by `seed`.
inline std::string binary(std::size_t size, unsigned seed) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>((i * 131 + seed * 7 + i / 251) & 0xFF);
    return s;
}

struct HttpFixture : PlainFixture {
    fs::path www;

    HttpFixture() : www(dir.path() / "www") { fs::create_directories(www); }

    void put(const std::string& relative, const std::string& content) {
        fs::create_directories((www / relative).parent_path());
        ScratchDir::write(www / relative, content);
    }

    // The server on a free port serving `www`, at the given delay.
    std::shared_ptr<ui::ToolWindow> startHttpServer(int& port, int delay = 1) {
        WriteSetting("Http Settings", "WShttpPath", www.string() + "/", ".\\VARlo.ini");
        WriteSetting("Http Settings", "WShttpStr", "default.htm", ".\\VARlo.ini");
        WriteSetting("Http Settings", "WShttpDel", std::to_string(delay), ".\\VARlo.ini");
        port = freePort(SOCK_STREAM);
        auto w = desktop->start("WS_http_s", {std::to_string(port)});
        EXPECT_TRUE(w && waitForText(*w, "waiting to accept().", tools::WS_http_s::LogList));
        w->invoke([] {}).get();
        return w;
    }

    static std::size_t countContaining(ui::ToolWindow& w, const std::string& part) {
        std::size_t n = 0;
        for (const auto& t : texts(w, tools::WS_http_s::LogList))
            n += t.find(part) != std::string::npos;
        return n;
    }
};

} // namespace http_testing

namespace http_testing {

// A small site: pages in sub-folders linking with relative, "./" and "../"
// links, pictures, an off-site picture (on "localhost", the same server under
// another name), a link in single quotes and one the omit file keeps out.
struct Site {
    std::map<std::string, std::string> files; // served path -> bytes
    // What the client should store beneath "127.0.0.1/" and "localhost/".
    std::map<std::string, std::string> mirrored;

    Site() {
        const std::string gif = "GIF89a" + binary(5000, 9);
        files["index.htm"] =
            "<html><body>\r\n<a href=\"docs/a.htm\">A</a>\r\n<img src=\"img/logo.gif\">\r\n"
            "<a href='quoted.htm'>q</a>\r\n<a href=\"ads/banner.htm\">ad</a>\r\n"
            "<img src=\"http://localhost/off/pic.jpg\">\r\n"
            "<A HREF=docs/Upper.htm>u</A>\r\n</body></html>\r\n";
        std::string a = "<a href=\"./b.htm\">b</a> <a href=\"../top.htm\">top</a>\n"
                        "<img src=\"pics/x.gif\" alt=\"x\">\n";
        // The tag of the last link straddles the first 10,240-byte block.
        a += std::string(10238 - a.size() - 3, ' ') + "<a href=\"./far.htm\">far</a>\n";
        files["docs/a.htm"] = a;
        files["docs/b.htm"] = "plain page, no links";
        files["docs/far.htm"] = "far";
        files["docs/Upper.htm"] = "upper";
        files["docs/pics/x.gif"] = gif.substr(0, 3000);
        files["top.htm"] = "<a href=index.htm>home</a>";
        files["img/logo.gif"] = gif;
        files["off/pic.jpg"] = binary(7000, 5);
        files["quoted.htm"] = "never fetched";
        files["ads/banner.htm"] = "never fetched";
        for (const char* p : {"index.htm", "docs/a.htm", "docs/b.htm", "docs/far.htm",
                              "docs/Upper.htm", "docs/pics/x.gif", "top.htm", "img/logo.gif"})
            mirrored[std::string("127.0.0.1/") + p] = files[p];
        mirrored["localhost/off/pic.jpg"] = files["off/pic.jpg"];
    }

    void write(const fs::path& root) const {
        for (const auto& [path, bytes] : files) {
            fs::create_directories((root / path).parent_path());
            ScratchDir::write(root / path, bytes);
        }
    }
};

// Every regular file beneath `root`, by its path relative to it.
inline std::map<std::string, std::string> filesBeneath(const fs::path& root) {
    std::map<std::string, std::string> out;
    if (!fs::exists(root)) return out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            out[fs::relative(e.path(), root).string()] = ScratchDir::read(e.path());
    return out;
}

} // namespace http_testing
