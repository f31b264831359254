// Where the asynchronous download puts a URL, and the texts of its list.
#include "platform/internet.h"
#include "tools/http/http_asypath.h"
#include "tools/http/http_asytext.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kHere = "/work/dir";

TEST(DownloadTarget, FoldersFollowTheServerAndThePathAndTheNameTheLastSegment) {
    struct Case {
        std::string url;
        std::string opened; // the URL the request goes to
        std::vector<std::string> folders;
        std::string file;  // below the current directory, as created
        std::string shown; // as the window shows it
    };
    const Case cases[] = {
        {"http://127.0.0.1",
         "http://127.0.0.1/",
         {"127.0.0.1"},
         "127.0.0.1/index.htm",
         "127.0.0.1/index.htm"},
        {"  HTTPS://Example.com:8443",
         "HTTPS://Example.com:8443/",
         {"Example.com:8443"},
         "Example.com:8443/index.htm",
         "example.com:8443/index.htm"},
        {"http://127.0.0.1:8080/",
         "http://127.0.0.1:8080/",
         {"127.0.0.1:8080"},
         "127.0.0.1:8080/index.htm",
         "127.0.0.1:8080/index.htm"},
        {"http://h/a/B/page.htm",
         "http://h/a/B/page.htm",
         {"h", "h/a", "h/a/B"},
         "h/a/B/page.htm",
         "h/a/b/page.htm"},
        {"http://h/Docs/",
         "http://h/Docs/",
         {"h", "h/Docs"},
         "h/Docs/index.htm",
         "h/docs/index.htm"},
        {"http://h/q.asp?a=1&b=2",
         "http://h/q.asp?a=1&b=2",
         {"h"},
         "h/qaspa1&b2.htm",
         "h/qaspa1&b2.htm"},
        {"http://h/Page.HTM#Top", "http://h/Page.HTM#Top", {"h"}, "h/page.htmtop", "h/page.htmtop"},
        {"http://h/readme", "http://h/readme", {"h"}, "h/readme.htm", "h/readme.htm"},
        // Without a scheme the server part is the first segment all the same.
        {"h/x.gif", "h/x.gif", {"h"}, "h/x.gif", "h/x.gif"},
        // Without any "/" the one folder and the file name run together.
        {"abc", "abc", {"abc"}, "abcindex.htm", "abcindex.htm"},
    };
    for (const Case& c : cases) {
        const tools::DownloadTarget t = tools::DownloadTargetFor(c.url, kHere);
        EXPECT_FALSE(t.refused) << c.url;
        EXPECT_EQ(t.url, c.opened) << c.url;
        EXPECT_EQ(t.folders, c.folders) << c.url;
        EXPECT_EQ(t.filePath, kHere + "/" + c.file) << c.url;
        EXPECT_EQ(t.shownPath, kHere + "/" + c.shown) << c.url;
    }
}

TEST(DownloadTarget, NothingOutsideTheCurrentDirectoryIsEverNamed) {
    const char* refused[] = {
        "http://127.0.0.1/../x.htm",
        "http://127.0.0.1/a/../../x.htm",
        "http://127.0.0.1/a\\..\\..\\b/x.htm", // Windows separates folders with "\\" too
        "http://h/q?x=../../x/y.htm",          // the folders split the query too
        "http://../etc/x",
        "http:///etc/passwd",
        "http://user@host/x.htm",
        "http://[::1]x/x.htm",
        "http://host:80x/x.htm",
        "http:/x/y.htm",
        "",
    };
    for (const char* url : refused) {
        const tools::DownloadTarget t = tools::DownloadTargetFor(url, kHere);
        EXPECT_TRUE(t.refused) << url;
        EXPECT_TRUE(t.folders.empty()) << url;
        EXPECT_TRUE(t.filePath.empty()) << url;
    }
    // Dots that are not a whole segment name nothing above.
    EXPECT_FALSE(tools::DownloadTargetFor("http://h/a..b/.../x..htm", kHere).refused);
    // Backslashes in the last segment only shape the name: up to a "../" all
    // goes, and with no "/" left the name is the index.
    EXPECT_FALSE(tools::DownloadTargetFor("http://h/a/..\\..\\x.htm", kHere).refused);
    EXPECT_EQ(tools::LocalNameFor("http://h/a/..\\..\\x.htm"), "index.htm");
}

TEST(DownloadTarget, HostPartsThatNameAFolderSafely) {
    EXPECT_TRUE(tools::PlainHostPart("127.0.0.1"));
    EXPECT_TRUE(tools::PlainHostPart("www.example-1.com:65535"));
    EXPECT_FALSE(tools::PlainHostPart("a:"));
    EXPECT_FALSE(tools::PlainHostPart("a:123456"));
    EXPECT_FALSE(tools::PlainHostPart("a b"));
    EXPECT_FALSE(tools::PlainHostPart(".."));
    EXPECT_FALSE(tools::PlainHostPart("host\\x"));
}

TEST(InternetTexts, EveryNotificationHasItsLineAndEveryErrorItsName) {
    const win::DWORD bytes = 4321;
    const win::INTERNET_ASYNC_RESULT result{12345, 0};
    EXPECT_EQ(tools::InternetStatusText(31, &bytes, sizeof bytes), "Request sent. 4321");
    EXPECT_EQ(tools::InternetStatusText(41, &bytes, sizeof bytes), "Response received. 4321");
    EXPECT_EQ(tools::InternetStatusText(100, &result, sizeof result), "Request completed. 12345");
    EXPECT_EQ(tools::InternetStatusText(51, nullptr, 0), "Handle closed.");
    EXPECT_EQ(tools::InternetStatusText(70, nullptr, 0), "...");
    EXPECT_EQ(tools::InternetStatusText(99, nullptr, 0), "");
    EXPECT_EQ(tools::InternetErrorName(12001), "ERROR_INTERNET_OUT_OF_HANDLES");
    EXPECT_EQ(tools::InternetErrorName(12007), "ERROR_INTERNET_NAME_NOT_RESOLVED");
    EXPECT_EQ(tools::InternetErrorName(12036), "ERROR_INTERNET_HANDLE_EXISTS");
    EXPECT_EQ(tools::InternetErrorName(12000), "");
    EXPECT_EQ(tools::InternetErrorName(12037), "");
    EXPECT_EQ(tools::InternetErrorName(12152), "");
}

} // namespace
