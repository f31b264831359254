// The asynchronous download as the program's menu opens it, driven by a script.
#include "app/program.h"
#include "platform/scratchdir.h"
#include "support/webservers.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(HttpAsync, TheMenuOpensOneDownloaderThatStoresThePageAndKeepsItsSettings) {
    ScratchDir dir;
    std::filesystem::create_directories("www");
    const std::string page = testing_support::patternBody(6000);
    ScratchDir::write("www/a.htm", page);
    testing_support::FileServer server(dir.path() / "www");
    ASSERT_NE(server.port(), 0);
    const std::string host = "127.0.0.1:" + std::to_string(server.port());
    const std::string script = "menu WS/Client/Http async.\n"
                               "waitfor Http_asy open\n"
                               "menu WS/Client/Http async.\n"
                               // The second start is briefly the newest instance:
                               // the open one is named by its number.
                               "waitfor Http_asy#1 front\n"
                               "set Http_asy#1 2 http://" +
                               host +
                               "/a.htm\n"
                               "press Http_asy#1 Go\n"
                               "waitfor Http_asy#1 \"field 14 5\" 30\n"
                               "quit\n";
    Program program({"--headless", "--script", "-"}, script);
    ASSERT_EQ(program.wait(60000), 0) << program.output();
    const std::string& out = program.output();
    EXPECT_EQ(out.find("timeout"), std::string::npos) << out;
    EXPECT_EQ(out.find("Http_asy#2"), std::string::npos) << "a second window opened";
    EXPECT_TRUE(program.printed("Http_asy#1 row 12 2\t60\tHandle created.")) << out;
    EXPECT_TRUE(program.printed("Http_asy#1 field 8 6000")) << out;
    EXPECT_TRUE(ScratchDir::read(host + "/a.htm") == page);
    EXPECT_EQ(ScratchDir::read("TAVIK6.INI"), "[Tavik6 Settings]\r\nHTTPurl=http://" + host +
                                                  "/a.htm\r\nHTTPproxy=localhost:8001\r\n"
                                                  "HTTPiproxy=0\r\n");
}
