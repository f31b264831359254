// The raw HTTP client's and the HTTP server's text rules, without a window.
#include "tools/http/chunkdecoder.h"
#include "tools/http/downloadqueue.h"
#include "tools/http/fetchrules.h"
#include "tools/http/linkextractor.h"
#include "tools/http/requestline.h"
#include "tools/http/responsereader.h"
#include "tools/http/rulefile.h"

#include <gtest/gtest.h>
#include <zlib.h>

using namespace tools::http;

namespace {

std::string compressed(const std::string& plain, int windowBits) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, plain.size()) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
    z.avail_in = static_cast<uInt>(plain.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Feeds `response` in blocks of `block` bytes; the stored bytes.
std::string stored(ResponseReader& reader, const std::string& response, std::size_t block) {
    std::string out;
    auto sink = [&](std::string_view s) { out.append(s); };
    for (std::size_t at = 0; at < response.size(); at += block)
        reader.feed(std::string_view(response).substr(at, block), sink);
    reader.finish(sink);
    return out;
}

std::vector<std::string> links(const std::vector<std::string>& tags, const std::string& page,
                               std::size_t block) {
    LinkExtractor extractor(tags);
    std::vector<std::string> found;
    auto take = [&](const std::string& l) { found.push_back(l); };
    for (std::size_t at = 0; at < page.size(); at += block)
        extractor.feed(std::string_view(page).substr(at, block), take);
    extractor.finish(take);
    return found;
}

} // namespace

TEST(FetchRules, PathSplitsIntoDirectoryAndFileName) {
    struct Case {
        const char* path;
        const char* dir;
        const char* file;
    };
    const Case cases[] = {
        {"a/b/c.htm", "a/b/", "c.htm"}, {"c.htm", "", "c.htm"},
        {"a/b/", "a/b/", ""},           {"", "", ""},
        {"c:x.htm", "c:/", ""},         {"a/b.htm   ", "a/", "b.htm"},
        {"x:y/z.gif", "x:y/", "z.gif"}, {"/abs.htm", "/", "abs.htm"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DirectoryPart(c.path), c.dir) << c.path;
        EXPECT_EQ(FileNamePart(c.path), c.file) << c.path;
    }
}

TEST(FetchRules, FetchDecisionSkipsOnlyAnExistingFileAfterTheFirstFetch) {
    // exists, first since Go, write over -> fetch
    EXPECT_TRUE(shouldFetch(false, false, false));
    EXPECT_FALSE(shouldFetch(true, false, false));
    EXPECT_TRUE(shouldFetch(true, true, false));
    EXPECT_TRUE(shouldFetch(true, false, true));
}

TEST(FetchRules, RequestBytesAreTheSevenLinesWithTheAddressAndPortAsHost) {
    EXPECT_EQ(requestText("a/b.htm  ", "127.0.0.1", 80),
              "GET /a/b.htm HTTP/1.1\r\nHost: 127.0.0.1:80\r\n"
              "Accept: application/vnd.ms-excel, application/msword, "
              "application/vnd.ms-powerpoint, application/x-comet, image/gif, image/x-xbitmap, "
              "image/jpeg, image/pjpeg, */*\r\nAccept-Language: hr\r\n"
              "Accept-Encoding: gzip, deflate\r\n"
              "User-Agent: Mozilla/4.0 (compatible; MSIE 5.01; Windows 98)\r\n"
              "Connection: close\r\n\r\n");
    EXPECT_EQ(requestText("", "10.0.0.1", 8010).substr(0, 16), "GET / HTTP/1.1\r\n");
}

TEST(FetchRules, ServerNamesAndPathsThatCouldLeaveTheServersFolderAreRecognised) {
    struct Case {
        const char* text;
        bool plainHost;
        bool inside;
    };
    const Case cases[] = {
        {"www.example.org", true, true},
        {"127.0.0.1", true, true},
        {"host:8080", true, true},
        {"my-host", true, true},
        {"..", false, false},
        {".", false, true},
        {"a/b", false, true},
        {"/etc", false, false},
        {"host:", false, true},
        {"host:80a", false, true},
        {"", false, true},
        {"a/../../x", false, false},
        {"a\\..\\x", false, false},
        {"..foo/x", false, true},
        {"a/..", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isPlainHostName(c.text), c.plainHost) << c.text;
        EXPECT_EQ(staysInside(c.text), c.inside) << c.text;
    }
    EXPECT_EQ(diskPath("a\\b/c"), "a/b/c");
}

TEST(FetchRules, DottedAddressesAreThoseWithThreeDotsInTheFirst32Characters) {
    EXPECT_TRUE(isDottedAddress("10.0.0.1"));
    EXPECT_FALSE(isDottedAddress("localhost"));
    EXPECT_FALSE(isDottedAddress("1.2.3.4.5"));
    EXPECT_TRUE(isDottedAddress(std::string(29, 'a') + "..." + ".x"));
}

TEST(FetchRules, OffSiteLinksSplitIntoServerAndPage) {
    struct Case {
        const char* url;
        const char* server;
        const char* page;
    };
    const Case cases[] = {
        {"http://www.x.org/img/a.gif", "www.x.org", "img/a.gif"},
        {"HTTPS://Host:81/a.gif", "Host:81", "a.gif"},
        {"ftp://f.org/a.gif", "ftp:", "/f.org/a.gif"},
        {"http://x", "http:", "/x"},
        {"http://xy", "xy", ""},
    };
    for (const auto& c : cases) {
        const auto t = offSiteTarget(c.url);
        EXPECT_EQ(t.server, c.server) << c.url;
        EXPECT_EQ(t.page, c.page) << c.url;
    }
}

TEST(RequestLine, ServerMapsTheFirstLineToAFileName) {
    struct Case {
        const char* line;
        bool served;
        const char* file; // RootDir "/r/" and DefaultPage "default.htm"
    };
    const Case cases[] = {
        {"GET / HTTP/1.0", true, "/r/default.htm"},
        {"GET /Docs/Index.HTML HTTP/1.1", true, "/r/Docs/Index.HTML"},
        {"  get   ../a.htm   http/1.0", true, "/r/a.htm"},
        {"GET ./x.htm HTTP/1.0", true, "/r/x.htm"},
        {"GET ../../x HTTP/1.0", true, "/r/../x"},
        {"GET /a?b=1 HTTP/1.0", true, "/r/a?b=1"},
        {"GET /index.html", false, ""},
        {"POST /x HTTP/1.0", false, ""},
        {"", false, ""},
    };
    for (const auto& c : cases) {
        const auto path = requestedPath(c.line);
        ASSERT_EQ(path.has_value(), c.served) << c.line;
        if (path) {
            EXPECT_EQ(servedFileName("/r/  ", servedPath(*path, "default.htm  ")), c.file)
                << c.line;
        }
    }
    EXPECT_EQ(servedFileName("C:/www", "a.htm"), "C:/wwwa.htm");
    EXPECT_EQ(servedFileName("/", std::string(300, 'a')).size(), 254u);
}

TEST(RuleFile, LinesEndInCrLfOrLfAndAreUpperCasedAndCut) {
    struct Case {
        std::string bytes;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"href=\r\nsrc=\r\n", {"HREF=", "SRC="}},
        {"href=\nsrc=\n", {"HREF=", "SRC="}},
        {"href=\r\nsrc=", {"HREF="}}, // a last line without its end is no line
        {"  a  \r\n   b  \r\n\r\n\r\nc\r\n", {"  A", "B", "C"}},
        {"a\rxb\r\n", {"A", "B"}}, // the character after a CR goes with it
        {std::string("a\r\n\0b\r\n", 7), {"A"}},
        {std::string(50, 'x') + "\r\n", {std::string(40, 'X')}},
        {"\x9a"
         "ads\n",
         {"\x8a"
          "ADS"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rulefile::load(c.bytes, 40), c.lines) << c.bytes;
    EXPECT_EQ(rulefile::load(std::string(10239, ' ') + "x\r\n", 40).size(), 0u);
}

TEST(ChunkDecoder, HexToNumberReadsFourCharactersFromTheRight) {
    const std::pair<const char*, unsigned> cases[] = {
        {"1A", 26},   {"FFFF", 65535},   {"ff", 255}, {"0", 0},   {"", 0},
        {"1a  ", 26}, {"12345", 0x1234}, {"G", 16},   {"1;", 16}, {"-1", 1},
    };
    for (const auto& [t, v] : cases)
        EXPECT_EQ(HexToNumber(t), v) << t;
}

TEST(ResponseReader, BodiesAreStoredWhateverTheBlocksTheyArriveIn) {
    const std::string page = std::string("<html>\0NUL<a href=x.htm>", 24) + std::string(30000, 'p');
    const std::string gz = compressed(page, 16 + 15);
    auto chunked = [](const std::string& body, std::size_t piece, const char* extension) {
        std::string out;
        for (std::size_t at = 0; at < body.size(); at += piece) {
            const std::string part = body.substr(at, piece);
            char size[32];
            std::snprintf(size, sizeof size, "%zX", part.size());
            out += size + std::string(extension) + "\r\n" + part + "\r\n";
        }
        return out + "0\r\nX-Trailer: 1\r\n\r\n";
    };
    struct Case {
        const char* name;
        std::string response;
        std::string body;
        int state;
    };
    const Case cases[] = {
        {"raw", "no status line\r\n\r\nabc", "no status line\r\n\r\nabc", 1},
        {"short raw", "ab", "ab", 1},
        {"plain", "HTTP/1.1 200 OK\r\nA: b\r\n\r\nabc", "abc", 2},
        {"headers only", "HTTP/1.1 200 OK\r\nA: b", "HTTP/1.1 200 OK\r\nA: b", 1},
        {"chunked",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1A\r\n" + std::string(26, 'z') +
             "\r\n0\r\n\r\n",
         std::string(26, 'z'), 3},
        {"no blank after colon", "HTTP/1.1 200 OK\r\nTransfer-Encoding:chunked\r\n\r\n3\r\nabc",
         "3\r\nabc", 2},
        {"long chunks with extensions",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked(page, 7000, ";a=b"),
         page, 3},
        {"gzip", "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + gz, page, 2},
        {"deflate", "HTTP/1.1 200 OK\r\ncontent-encoding:  Deflate\r\n\r\n" + compressed(page, 15),
         page, 2},
        {"raw deflate",
         "HTTP/1.1 200 OK\r\nContent-Encoding: deflate\r\n\r\n" + compressed(page, -15), page, 2},
        {"gzip chunked",
         "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nTransfer-Encoding: "
         "chunked\r\n\r\n" +
             chunked(gz, 1000, ""),
         page, 3},
    };
    for (const auto& c : cases)
        for (std::size_t block : {std::size_t{1}, std::size_t{3}, std::size_t{10240}}) {
            ResponseReader reader;
            // Compared as a flag: the bodies are too long to print.
            EXPECT_TRUE(stored(reader, c.response, block) == c.body) << c.name << " " << block;
            EXPECT_EQ(reader.state(), c.state) << c.name;
        }
    ResponseReader reader;
    stored(reader, "HTTP/1.1 200 OK\r\nA: b\r\n\r\nabc", 10240);
    EXPECT_EQ(reader.headerText(), "HTTP/1.1 200 OK\r\nA: b\r\n");
    EXPECT_STREQ(reader.kindText(), "http/1.x");
}

TEST(ResponseReader, ABrokenChunkSizeOrGzipStreamStopsTheBodyWithoutACrash) {
    ResponseReader reader;
    EXPECT_EQ(stored(reader,
                     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\nzz\r\n"
                     "more",
                     5),
              "abc");
    ResponseReader gz;
    EXPECT_EQ(stored(gz, "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\nnot gzip at all", 4),
              "");
}

TEST(LinkExtractor, LinksAreFoundCleanedAndResolvedAsOnePageWhateverTheBlocks) {
    const std::string page =
        "<a href=\"img/x.gif\">  <A HREF=./a.htm>  <a href=../b.htm> <a href='q.htm'>"
        "<img src=\"/Pic/Y.JPG\" alt=1> <a href=\"http://other.org/p.gif\"> "
        "<a href=\"internal-gopher-x\"> <a href=127.0.0.1/s.htm> <a href=  \"c.htm\">"
        "<a href=\"docs/d.htm\">";
    const std::vector<std::string> expected = {
        "docs/img/x.gif",         "docs/a.htm", "b.htm",      "docs/Pic/Y.JPG",
        "http://other.org/p.gif", "docs/s.htm", "docs/c.htm", "docs/d.htm"};
    for (std::size_t block : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{10240}}) {
        std::vector<std::string> resolved;
        for (const auto& l : links({"HREF=", "SRC="}, page, block))
            resolved.push_back(resolveLink(l, "127.0.0.1", "docs/"));
        EXPECT_EQ(resolved, expected) << "block " << block;
    }
    // A link without any ">" after it runs to the end of the page.
    EXPECT_EQ(links({"HREF="}, "href=last.htm", 4), std::vector<std::string>{"last.htm"});
    EXPECT_EQ(LinkExtractor::clean("\"A B.HTM\""), "A");
    EXPECT_EQ(LinkExtractor::clean(std::string("X.HTM\n\0Y", 8)), "X.HTM");
}

TEST(LinkExtractor, AHugeTagWithoutAnEndIsBoundedByTheCarryLimit) {
    const std::string page = "href=" + std::string(100000, 'a') + " <a href=z.htm>";
    const auto found = links({"HREF="}, page, 10240);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found.back(), "z.htm");
    for (const auto& l : found)
        EXPECT_LE(l.size(), LinkExtractor::kLinkWidth);
}

TEST(DownloadQueue, LinksAreQueuedByKindOnceAndOmittedByString) {
    DownloadQueue q;
    const std::vector<std::string> omit = {"ADS"};
    struct Offer {
        const char* link;
        bool added;
    };
    const Offer offers[] = {
        {"a.htm", true},
        {"x.gif", true},
        {"a.htm", false},
        {"http://o.org/p.gif", true},
        {"http://o.org/p.htm", false},
        {"banner/Ads.htm", false},
        {"pic.jpeg?x", true},
        {"ftp://f/x.ico", true},
    };
    for (const auto& o : offers)
        EXPECT_EQ(q.offer(o.link, omit), o.added) << o.link;
    EXPECT_EQ(q.urls(), (std::vector<std::string>{"x.gif", "pic.jpeg?x", "a.htm",
                                                  "http://o.org/p.gif", "ftp://f/x.ico"}));
    const std::pair<const char*, int> order[] = {
        {"x.gif", 1}, {"pic.jpeg?x", 1}, {"a.htm", 5}, {"http://o.org/p.gif", 9}};
    for (const auto& [url, kind] : order) {
        const auto l = q.take();
        ASSERT_TRUE(l);
        EXPECT_EQ(l->url, url);
        EXPECT_EQ(l->kind, kind);
    }
    EXPECT_TRUE(q.offer("a.htm", omit)); // taken out, so it may come back
}
