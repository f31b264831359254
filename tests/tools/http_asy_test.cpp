// The asynchronous download window, headless, against servers started by the test
// on 127.0.0.1: it stores what they send beneath the current directory at its
// documented pace, lists the library's notifications and its errors, and keeps
// its settings in a file of its own.
#include "platform/cp1250.h"
#include "platform/internet.h"
#include "platform/system.h"
#include "support/toolsfixture.h"
#include "support/webservers.h"
#include "tools/http/http_asy.h"
#include "ui/windowmodel.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <filesystem>
#include <mutex>

using namespace testing_support;
using tools::Http_asy;
namespace fs = std::filesystem;

namespace {

// Every value the state field shows, in order ("" is state 0).
class StateRecorder : public ui::ModelObserver {
public:
    void modelChanged(const ui::Change& c) override {
        if (c.kind != ui::Change::Kind::Field || c.control != Http_asy::StateField) return;
        std::lock_guard lock(m_mutex);
        m_states += c.text.empty() ? "0" : c.text;
    }
    std::string states() {
        std::lock_guard lock(m_mutex);
        return m_states;
    }
    void clear() {
        std::lock_guard lock(m_mutex);
        m_states.clear();
    }

private:
    std::mutex m_mutex;
    std::string m_states;
};

int openDescriptors() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ++n;
        ::closedir(d);
    }
    return n;
}

struct HttpAsyTest : ToolsFixture {
    // The servers keep their files apart from where the window stores its own.
    fs::path serverDir = dir.path() / "srv";
    fs::path www = serverDir / "www";
    StateRecorder states;
    std::shared_ptr<ui::ToolWindow> window;

    HttpAsyTest() { fs::create_directories(www); }
    ~HttpAsyTest() override {
        if (window) window->model().removeObserver(&states);
    }

    void open() {
        // The library's own thread and descriptors exist from its first use on:
        // counts of open descriptors start after it.
        win::InternetCloseHandle(win::InternetOpenA("warm-up", win::INTERNET_OPEN_TYPE_DIRECT,
                                                    nullptr, nullptr, win::INTERNET_FLAG_ASYNC));
        window = desktop->start("Http_asy");
        ASSERT_TRUE(window);
        ASSERT_TRUE(console.waitForLine(window->name() + " open"));
        // The timer is set by the open handler; what follows is queued after it.
        window->invoke([] {}).wait();
        window->model().addObserver(&states);
    }
    void set(int control, const std::string& value) {
        window->invoke([&] { window->applyInput(control, value); }).get();
    }
    void press(int control) {
        window->invoke([&] { window->applyPress(control); }).get();
    }
    // Go with the URL, then waits until the transfer is over (state 5, then 0).
    bool download(const std::string& url, int milliseconds = 60000) {
        set(Http_asy::UrlEntry, url);
        states.clear();
        press(Http_asy::GoButton);
        return waitUntil([&] { return states.states().find("50") != std::string::npos; },
                         milliseconds);
    }
    std::vector<ui::Row> rows() { return window->model().rows(Http_asy::StatusList); }
    std::vector<std::string> codes() {
        std::vector<std::string> out;
        for (const auto& r : rows())
            out.push_back(r.at(1));
        return out;
    }
    bool listed(const ui::Row& row) {
        for (const auto& r : rows())
            if (r == row) return true;
        return false;
    }
    // The folder the window names after a server on this machine.
    std::string hostFolder(int port) const { return "127.0.0.1:" + std::to_string(port); }
    std::vector<std::string> filesHere() const {
        std::vector<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(dir.path()))
            if (e.path().string().rfind(serverDir.string(), 0) != 0)
                names.push_back(e.path().string());
        return names;
    }
};

TEST_F(HttpAsyTest, StoresEachUrlWholeUnderTheFolderAndNameItsPathGives) {
    const std::string page = patternBody(9000);
    ScratchDir::write(www / "index.html", page);
    fs::create_directories(www / "Sub");
    ScratchDir::write(www / "Sub" / "Page.HTM", "<html>sub page</html>");
    ScratchDir::write(www / "q.asp", "query answer");
    FileServer files(www);
    BehaviourServer behaviour(serverDir);
    ASSERT_NE(files.port(), 0);
    ASSERT_NE(behaviour.port(), 0);
    const std::string f = hostFolder(files.port());
    const std::string b = hostFolder(behaviour.port());
    struct Case {
        std::string url;
        std::string stored; // below the current directory
        std::string body;
    } cases[] = {
        // The server's root, named without its "/": index.htm in the server's folder,
        // which keeps the port.
        {"http://" + f, f + "/index.htm", page},
        {"http://" + f + "/Sub/Page.HTM", f + "/Sub/page.htm", "<html>sub page</html>"},
        {"http://" + f + "/q.asp?a=1&b=2", f + "/qaspa1&b2.htm", "query answer"},
        {"http://" + b + "/chunked?6000", b + "/chunked6000.htm", patternBody(6000)},
        // Bytes that come after the open, while no read is issued yet.
        {"http://" + b + "/slow?3000", b + "/slow3000.htm", patternBody(3000)},
        // The first connection closes after the redirect: the transfer goes on.
        {"http://" + b + "/redirect?/pattern?2000", b + "/redirect?/pattern2000.htm",
         patternBody(2000)},
    };
    open();
    const int descriptors = openDescriptors();
    for (const Case& c : cases) {
        ASSERT_TRUE(download(c.url)) << c.url << " states " << states.states();
        const std::string stored = ScratchDir::read(dir.path() / c.stored);
        EXPECT_TRUE(stored == c.body) << c.url << ": " << stored.size() << " bytes";
        // Opened, file made, blocks read and written, the end, released.
        const std::string s = states.states();
        EXPECT_EQ(s.substr(s.find_first_not_of('0'), 4), "1234") << c.url << " " << s;
        EXPECT_EQ(s.substr(s.size() - 2), "50") << c.url << " " << s;
        EXPECT_EQ(window->model().value(Http_asy::TransferredField), std::to_string(c.body.size()))
            << c.url;
        EXPECT_EQ(window->model().value(Http_asy::LocalField),
                  win::currentDirectory() + "/" + cp1250::toLower(c.stored))
            << c.url;
        // The file is closed and the handles with their connection gone.
        EXPECT_EQ(openDescriptors(), descriptors) << c.url;
    }
    // The list of the last one: the library's notifications as they came.
    const std::vector<std::string> seen = codes();
    ASSERT_GE(seen.size(), 10u);
    EXPECT_EQ((std::vector<std::string>(seen.begin(), seen.begin() + 9)),
              (std::vector<std::string>{"60", "10", "11", "20", "21", "30", "31", "40", "41"}));
    EXPECT_NE(std::find(seen.begin(), seen.end(), "110"), seen.end());
    EXPECT_EQ(seen.back(), "70");
    EXPECT_TRUE(listed({rows().front().at(0), "60", "Handle created."}));
    EXPECT_EQ(window->model().value(Http_asy::UrlEntry), "http://" + b + "/redirect?/pattern?2000");
}

TEST_F(HttpAsyTest, AStalledServerEndsTheTransferAfterTwentySecondsWithWhatArrived) {
    BehaviourServer behaviour(serverDir);
    ASSERT_NE(behaviour.port(), 0);
    open();
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(download(behaviour.url("/stall?3000"), 60000)) << states.states();
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::seconds(20));
    const std::string s = states.states();
    // The read waits (3) until the limit ends it (5), then all is released (0).
    EXPECT_NE(s.find("2350"), std::string::npos) << s;
    EXPECT_TRUE(ScratchDir::read(dir.path() / hostFolder(behaviour.port()) / "stall3000.htm") ==
                patternBody(3000));
    EXPECT_EQ(window->model().value(Http_asy::TransferredField), "3000");
}

TEST_F(HttpAsyTest, FailuresAreListedWithTheirNamesAndRefusedUrlsTouchNothing) {
    BehaviourServer behaviour(serverDir);
    ASSERT_NE(behaviour.port(), 0);
    const std::string refused = "http://127.0.0.1:" + std::to_string(freePort(SOCK_STREAM)) + "/";
    struct Case {
        std::string url;
        ui::Row error;
    } cases[] = {
        // A 64-letter label is no DNS name: the lookup fails without any name server.
        {"http://" + std::string(64, 'a') + ".invalid/",
         {"ERROR:", "12007", "error_internet_name_not_resolved"}},
        {refused, {"ERROR:", "12029", "error_internet_cannot_connect"}},
        // Codes beyond the window's table are listed without a name.
        {behaviour.url("/empty"), {"ERROR:", "12152", ""}},
        {"gopher://127.0.0.1/", {"ERROR:", "12006", "error_internet_unrecognized_scheme"}},
        {behaviour.url("/missing.bin"), {"ERROR:", "404", ""}},
        // Folders that would leave the current directory: refused before anything.
        {behaviour.url("/a/../../x.htm"), {"ERROR:", "12005", "error_internet_invalid_url"}},
        {"http://user@127.0.0.1/x.htm", {"ERROR:", "12005", "error_internet_invalid_url"}},
        // Last, so nothing after it releases what it left open: the connection
        // breaks while a read waits, the file open.
        {behaviour.url("/reset?3000"), {"ERROR:", "12031", "error_internet_connection_reset"}},
    };
    open();
    const int descriptors = openDescriptors();
    for (const Case& c : cases) {
        set(Http_asy::UrlEntry, c.url);
        press(Http_asy::GoButton);
        EXPECT_TRUE(waitUntil([&] { return listed(c.error); }, 20000)) << c.url;
    }
    // The failed transfer's handles are released and its file closed.
    window->invoke([] {}).wait();
    EXPECT_EQ(openDescriptors(), descriptors);
    // The refused ones made no folder and sent no request.
    behaviour.process().waitForOutput("request GET /empty", 1000);
    EXPECT_EQ(behaviour.process().output().find("/x.htm"), std::string::npos);
    for (const std::string& f : filesHere())
        EXPECT_EQ(f.find("x.htm"), std::string::npos) << f;
    // The reset transfer kept what arrived before it.
    EXPECT_TRUE(ScratchDir::read(dir.path() / hostFolder(behaviour.port()) / "reset3000.htm") ==
                patternBody(3000));
}

TEST_F(HttpAsyTest, GoDuringATransferReleasesItFirst) {
    BehaviourServer behaviour(serverDir);
    ASSERT_NE(behaviour.port(), 0);
    open();
    const int descriptors = openDescriptors();
    set(Http_asy::UrlEntry, behaviour.url("/stall?3000"));
    press(Http_asy::GoButton);
    // The second block's read waits on the stalled server.
    ASSERT_TRUE(waitUntil([&] { return states.states().find("423") != std::string::npos; }, 20000))
        << states.states();
    ASSERT_GT(openDescriptors(), descriptors); // its file and its connection
    ASSERT_TRUE(download(behaviour.url("/pattern?100"))) << states.states();
    EXPECT_EQ(openDescriptors(), descriptors) << "the stalled transfer's file and socket are gone";
    EXPECT_TRUE(ScratchDir::read(dir.path() / hostFolder(behaviour.port()) / "stall3000.htm") ==
                patternBody(3000));
    EXPECT_TRUE(ScratchDir::read(dir.path() / hostFolder(behaviour.port()) / "pattern100.htm") ==
                patternBody(100));
}

TEST_F(HttpAsyTest, TheProxyIsUsedOnlyWhileItsBoxIsChecked) {
    ScratchDir::write(www / "p.htm", "through the proxy");
    FileServer files(www);
    Tinyproxy proxy(serverDir);
    ASSERT_TRUE(proxy.ready()) << "tinyproxy did not start";
    const std::string url = "http://127.0.0.1:" + std::to_string(files.port()) + "/p.htm";
    open();
    EXPECT_FALSE(window->model().enabled(Http_asy::ProxyEntry));
    // The box toggled on: the entry may be typed into.
    press(Http_asy::ProxyBox);
    EXPECT_TRUE(window->model().enabled(Http_asy::ProxyEntry));
    set(Http_asy::ProxyEntry, "127.0.0.1:" + std::to_string(proxy.port()));
    press(Http_asy::ProxyBox);
    EXPECT_FALSE(window->model().enabled(Http_asy::ProxyEntry));
    ASSERT_TRUE(download(url));
    EXPECT_EQ(proxy.log().find("GET " + url), std::string::npos) << "direct while unchecked";

    press(Http_asy::ProxyBox);
    fs::remove(dir.path() / hostFolder(files.port()) / "p.htm");
    ASSERT_TRUE(download(url));
    EXPECT_EQ(ScratchDir::read(dir.path() / hostFolder(files.port()) / "p.htm"),
              "through the proxy");
    EXPECT_NE(proxy.log().find("GET " + url), std::string::npos) << proxy.log();
}

TEST_F(HttpAsyTest, HttpsIsTrustedOnlyWithTheTestsAuthority) {
    const TestCertificates certs(serverDir);
    ASSERT_TRUE(certs.ok);
    BehaviourServer tls(serverDir, certs.cert, certs.key);
    ASSERT_NE(tls.port(), 0);
    open();
    ::unsetenv("SSL_CERT_FILE");
    set(Http_asy::UrlEntry, tls.url("/pattern?5000", "https"));
    press(Http_asy::GoButton);
    EXPECT_TRUE(waitUntil([&] { return listed({"ERROR:", "12045", ""}); }, 20000));
    EXPECT_FALSE(fs::exists(dir.path() / hostFolder(tls.port()) / "pattern5000.htm"));

    ::setenv("SSL_CERT_FILE", certs.ca.c_str(), 1);
    const bool done = download(tls.url("/pattern?5000", "https"));
    ::unsetenv("SSL_CERT_FILE");
    ASSERT_TRUE(done);
    EXPECT_TRUE(ScratchDir::read(dir.path() / hostFolder(tls.port()) / "pattern5000.htm") ==
                patternBody(5000));
}

TEST_F(HttpAsyTest, OneWindowAtATimeAndItsSettingsInAFileOfItsOwn) {
    open();
    // A second start brings the open window to the front and opens nothing.
    ASSERT_TRUE(desktop->start("Http_asy"));
    EXPECT_TRUE(console.waitForLine(window->name() + " front"));
    EXPECT_TRUE(waitUntil([&] { return desktop->windows().size() == 1; }));
    for (const std::string& line : console.lines())
        EXPECT_EQ(line.find("Http_asy#2"), std::string::npos) << line;

    set(Http_asy::UrlEntry, "http://127.0.0.1:9/a.htm");
    press(Http_asy::ProxyBox);
    set(Http_asy::ProxyEntry, "127.0.0.1:3128");
    window->postClose();
    ASSERT_TRUE(waitUntil([&] { return window->isClosed(); }, 10000));
    window->model().removeObserver(&states);
    EXPECT_NE(ScratchDir::read(dir.path() / "TAVIK6.INI")
                  .find("[Tavik6 Settings]\r\nHTTPurl=http://127.0.0.1:9/a.htm\r\n"
                        "HTTPproxy=127.0.0.1:3128\r\nHTTPiproxy=1\r\n"),
              std::string::npos)
        << ScratchDir::read(dir.path() / "TAVIK6.INI");
    EXPECT_TRUE(waitUntil([&] { return desktop->windows().empty(); }));

    // Once it has closed another may open, and it finds the settings.
    window = nullptr;
    open();
    EXPECT_EQ(window->name(), "Http_asy#3");
    EXPECT_EQ(window->model().value(Http_asy::UrlEntry), "http://127.0.0.1:9/a.htm");
    EXPECT_EQ(window->model().value(Http_asy::ProxyEntry), "127.0.0.1:3128");
    EXPECT_TRUE(window->model().checked(Http_asy::ProxyBox));
    EXPECT_TRUE(window->model().enabled(Http_asy::ProxyEntry));
}

} // namespace
