// Events for machines, end to end: a session that opens every tool and makes each
// kind of event happen prints its text lines and appends the same events, in the
// same order, as JSON lines that meet the schema; the Qt front end appends its own
// and opens the file again on SIGUSR1, as log rotation asks.
#include "app/program.h"
#include "platform/scratchdir.h"
#include "support/eventschema.h"
#include "support/loopbackports.h"

#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

using testing_support::freePort;

namespace {

bool waitFor(const std::function<bool()>& condition, int milliseconds) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return condition();
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

} // namespace

TEST(Events, ASessionOfEveryToolWritesItsTextLinesAsJsonLinesThatMeetTheSchema) {
    ScratchDir dir;
    ScratchDir::write("VARlo.INI", "[VARlo Settings]\r\nSound=1\r\n");
    ScratchDir::write("Varlo.tcp", std::to_string(freePort(SOCK_STREAM)) + ", trap\r\n");
    ScratchDir::write("Varlo.udp", std::to_string(freePort(SOCK_DGRAM)) + ", trap\r\n");
    ScratchDir::write("Varlo.stp", "SRC=\r\n");
    std::filesystem::create_directory("www");
    ScratchDir::write("www/default.htm", "<html><img src=\"logo.gif\"></html>");
    ScratchDir::write("www/logo.gif", "GIF89a");
    const std::string web = std::to_string(freePort(SOCK_STREAM));
    const std::string scan = std::to_string(freePort(SOCK_STREAM));
    Program program(
        {"--headless", "--events", "events.jsonl", "--script", "-"},
        "menu WS/About\n"
        "menu WS/Info/Socket info\nmenu WS/Info/Services\nmenu WS/Info/Protocols\n"
        "menu WS/Internet status\nmenu WS/Client/Tcp\nmenu WS/Client/Udp\n"
        "menu WS/Client/Http\nmenu WS/Client/Http async.\nmenu WS/Client/Http async.\n"
        "menu WS/Port blocker/Tcp ports \nmenu WS/Port blocker/Udp ports\n"
        "menu WS/Ping \nmenu WS/Traceroute\nmenu WS/Port scan\n"
        "set Port_chk 3 " +
            scan + "\nset Port_chk 5 " + scan +
            "\npress Port_chk Go\n"
            "open WS_Tcp " +
            std::to_string(freePort(SOCK_STREAM)) +
            "\n"
            "open WS_Udp " +
            std::to_string(freePort(SOCK_DGRAM)) +
            "\n"
            "set Unos_porta 2 " +
            web +
            "\npress Unos_porta Http\n"
            "waitfor WS_http_s \"waiting to accept().\"\nset WS_http_s 3 www/\n"
            "open ws_HClient 127.0.0.1 " +
            web +
            " default.htm\n"
            "waitfor ws_HClient \"picture \" 30\n"
            "open Path_mon 127.0.0.1 0.05 2\nwaitfor Path_mon \"report \" 30\n"
            "set Http_asy 4 refused.invalid\n" // the proxy's entry is disabled
            "dump MainWS\nsave WS_Udp 1 saved.txt\nwaitfor MainWS \"never printed\" 0.1\n"
            "quit\n");
    ASSERT_EQ(program.wait(120000), 1) << program.output(); // the refusal and the time-out
    const auto text = linesOf(program.output());
    const auto json = linesOf(ScratchDir::read("events.jsonl"));
    ASSERT_EQ(json.size(), text.size());
    std::set<std::string> kinds;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto event = nlohmann::json::parse(json[i]);
        const std::string window = event["window"], name = event["event"];
        kinds.insert(name);
        EXPECT_TRUE(text[i].starts_with(window + " " + name)) << text[i] << "\n" << json[i];
        if (name == "row") {
            // The text line escapes what JSON escapes its own way.
            std::string cells;
            for (const auto& cell : event["cells"]) {
                if (!cells.empty()) cells += '\t';
                for (char c : cell.get<std::string>())
                    cells += c == '\r'   ? "\\r"
                             : c == '\n' ? "\\n"
                             : c == '\\' ? "\\\\"
                                         : std::string(1, c);
            }
            EXPECT_TRUE(text[i].ends_with(cells)) << text[i] << "\n" << json[i];
        }
    }
    // A popup menu, showing a hidden frame and dropping rows past the 50,000-row
    // ceiling have no way in from a script.
    const std::set<std::string> unreachable = {"menu", "chosen", "shown", "hidden", "drop"};
    const auto schema =
        nlohmann::json::parse(ScratchDir::read(WS_SOURCE_DIR "/data/events.schema.json"));
    for (const auto& [kind, definition] : schema["$defs"].items()) {
        const bool isEvent =
            definition.contains("properties") && definition["properties"].contains("event");
        if (isEvent && !unreachable.contains(kind)) {
            EXPECT_TRUE(kinds.contains(kind)) << kind;
        }
    }
    EXPECT_EQ(eventSchemaFaults((dir.path() / "events.jsonl").string()), "");
}

TEST(Events, TheFrameWindowAppendsItsEventsAndOpensTheFileAgainOnSigusr1) {
    ScratchDir dir;
    ScratchDir::write("events.jsonl", "{\"kept\":1}\n");
    Program program({"--events", "events.jsonl"}, "",
                    ProgramSetup{{}, {{"QT_QPA_PLATFORM", "offscreen"}}, false, false, {}});
    const auto opened = [] {
        return ScratchDir::read("events.jsonl")
                   .find("\"window\":\"MainWS#1\",\"proc\":\"MainWS\",\"event\":\"open\"") !=
               std::string::npos;
    };
    ASSERT_TRUE(waitFor(opened, 20000)) << program.output();
    std::filesystem::rename("events.jsonl", "events.jsonl.1");
    program.signal(SIGUSR1);
    ASSERT_TRUE(waitFor([] { return std::filesystem::exists("events.jsonl"); }, 10000));
    program.signal(SIGTERM);
    ASSERT_EQ(program.wait(30000), 0) << program.output();
    const std::string before = ScratchDir::read("events.jsonl.1"),
                      after = ScratchDir::read("events.jsonl");
    EXPECT_TRUE(before.starts_with("{\"kept\":1}\n")) << before;
    EXPECT_EQ(after.find("\"event\":\"open\""), std::string::npos) << after;
    EXPECT_NE(after.find("\"window\":\"MainWS#1\",\"proc\":\"MainWS\",\"event\":\"closed\""),
              std::string::npos)
        << after;
}
