// The HTTP server and the raw HTTP client as a person or a script reaches them:
// the launcher's "Http" button, the server's "Test " button, the menu's
// "Client"/"Http" entry.
#include "app/program.h"
#include "platform/scratchdir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// The address the server's "Test " button gives the client: this machine's
// first address by its host name.
std::string localHostAddress() {
    char name[256] = {};
    ::gethostname(name, sizeof name);
    const hostent* h = ::gethostbyname(name);
    if (!h || !h->h_addr_list[0]) return {};
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, h->h_addr_list[0], text, sizeof text);
    return text;
}

const std::string kGif = "GIF89a" + std::string(300, '\x01');

void writeSite(const fs::path& www) {
    fs::create_directories(www / "img");
    ScratchDir::write(www / "default.htm", "<html><img src=\"img/Logo.GIF\"></html>");
    ScratchDir::write(www / "img/Logo.GIF", kGif); // links keep their case
    ScratchDir::write("Varlo.stp", "SRC=\n");
}

} // namespace

TEST(HttpTools, LauncherStartsTheServerWhoseTestButtonMirrorsItsDefaultPage) {
    const std::string address = localHostAddress();
    // The Test button sends to this machine's own address; only a loopback one
    // keeps the test's traffic on 127.0.0.0/8.
    if (address.rfind("127.", 0) != 0)
        GTEST_SKIP() << "the host name resolves to " << address << ", not a loopback address";
    ScratchDir dir;
    writeSite(dir.path() / "www");
    const std::string port = std::to_string(freePort());
    Program program({"--headless", "--script", "-"},
                    "waitfor Unos_porta open\n"
                    "set Unos_porta 2 " +
                        port +
                        "\n"
                        "press Unos_porta Http\n"
                        "waitfor WS_http_s \"waiting to accept().\"\n"
                        "set WS_http_s 3 " +
                        (dir.path() / "www").string() +
                        "/\n"
                        "set WS_http_s 8 1\n"
                        "press WS_http_s 6\n"
                        "waitfor ws_HClient \"picture \" 30\n"
                        "quit\n");
    ASSERT_EQ(program.wait(60000), 0) << program.output();
    const std::string& out = program.output();
    EXPECT_EQ(out.find("timeout"), std::string::npos) << out;
    EXPECT_TRUE(program.printed("WS_http_s#1 beep")) << out;
    const fs::path stored = dir.path() / address;
    EXPECT_EQ(ScratchDir::read(stored / "default.htm"), "<html><img src=\"img/Logo.GIF\"></html>");
    EXPECT_EQ(ScratchDir::read(stored / "img/Logo.GIF"), kGif);
    EXPECT_TRUE(program.printed("ws_HClient#1 picture " + (stored / "img/Logo.GIF").string()))
        << out;
    const std::string ini = ScratchDir::read("VARlo.INI");
    EXPECT_NE(ini.find("WShttpDel=1\r\n"), std::string::npos) << ini;
}

TEST(HttpTools, MenuOpensTheClientThatFetchesFromPythonsHttpServer) {
    ScratchDir dir;
    writeSite(dir.path() / "www");
    const int port = freePort();
    const pid_t python = ::fork();
    if (python == 0) {
        const std::string p = std::to_string(port), d = (dir.path() / "www").string();
        const int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, 1);
        ::dup2(quiet, 2);
        ::execl("/usr/bin/python3", "python3", "-m", "http.server", "--bind", "127.0.0.1",
                "--directory", d.c_str(), p.c_str(), nullptr);
        ::_exit(127);
    }
    // Python's server answers once it listens.
    for (int i = 0; i < 500; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        if (up) break;
        ::usleep(20000);
    }
    Program program({"--headless", "--script", "-"}, "waitfor Unos_porta open\n"
                                                     "menu WS/Client/Http\n"
                                                     "waitfor ws_HClient open\n"
                                                     "set ws_HClient 2 127.0.0.1\n"
                                                     "set ws_HClient 4 " +
                                                         std::to_string(port) +
                                                         "\n"
                                                         "set ws_HClient 6 default.htm\n"
                                                         "press ws_HClient Go\n"
                                                         "waitfor ws_HClient \"picture \" 30\n"
                                                         "quit\n");
    const int status = program.wait(60000);
    ::kill(python, SIGTERM);
    ::waitpid(python, nullptr, 0);
    ASSERT_EQ(status, 0) << program.output();
    EXPECT_EQ(program.output().find("timeout"), std::string::npos) << program.output();
    EXPECT_NE(program.output().find("\thttp/1.x In: "), std::string::npos) << program.output();
    EXPECT_EQ(ScratchDir::read(dir.path() / "127.0.0.1/img/Logo.GIF"), kGif);
}
