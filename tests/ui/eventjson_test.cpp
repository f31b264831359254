// Events as JSON lines: Windows-1250 texts converted and escaped as JSON has them,
// and every kind of event as the schema describes it.
#include "platform/cp1250.h"
#include "support/eventschema.h"
#include "support/testwindows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

namespace {

using Kind = ui::Event::Kind;

std::vector<std::string> jsonLines(const std::function<void(ui::ConsoleOutput&)>& report) {
    std::FILE* file = std::tmpfile();
    {
        ui::ConsoleOutput out(file);
        out.setJson(true);
        report(out);
    }
    std::rewind(file);
    std::vector<std::string> lines;
    char line[4096];
    while (std::fgets(line, sizeof line, file))
        lines.emplace_back(line, std::strlen(line) - 1);
    std::fclose(file);
    return lines;
}

} // namespace

TEST(EventJson, TextsAreUtf8WithControlCharactersEscaped) {
    const struct {
        std::string cp1250, json;
    } cases[] = {
        {"\x8A\x9A \xC8\xE8 \x80", "\"Šš Čč €\""},                     // Windows-1250 letters
        {"a\tb\r\nc", "\"a\\tb\\r\\nc\""},                             // tabs and line ends
        {std::string("\x00\x01\x1F", 3), "\"\\u0000\\u0001\\u001f\""}, // C0 controls
        {"\x81\x90\x98", "\"\xC2\x81\xC2\x90\xC2\x98\""},              // C1: JSON leaves them be
        {"say \"hi\" \\ bye", "\"say \\\"hi\\\" \\\\ bye\""},          // quotes, backslashes
    };
    const auto lines = jsonLines([&](ui::ConsoleOutput& out) {
        for (const auto& c : cases) {
            ui::Event e{Kind::Caption, "T#1"};
            e.text = c.cp1250;
            out.report(e);
        }
    });
    ASSERT_EQ(lines.size(), std::size(cases));
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(lines[i].ends_with(",\"caption\":" + cases[i].json + "}")) << lines[i];
}

// Plain text is copied eight bytes at a time and the rest left to nlohmann-json:
// every byte, wherever it stands in a run, comes out as the library writes it.
TEST(EventJson, EveryByteAtEveryPlaceOfARunIsWrittenAsTheLibraryWritesIt) {
    std::vector<std::string> texts;
    for (int byte = 0; byte < 256; ++byte)
        for (std::size_t at = 0; at < 20; ++at) {
            texts.emplace_back("abcdefghijklmnopqrstuvwxyz");
            texts.back()[at] = static_cast<char>(byte);
        }
    const auto lines = jsonLines([&](ui::ConsoleOutput& out) {
        for (const auto& text : texts) {
            ui::Event e{Kind::Caption, "T#1"};
            e.text = text;
            out.report(e);
        }
    });
    ASSERT_EQ(lines.size(), texts.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string json = nlohmann::json(cp1250::toUtf8(texts[i])).dump();
        ASSERT_TRUE(lines[i].ends_with(",\"caption\":" + json + "}")) << lines[i];
    }
}

TEST(EventJson, EveryKindMeetsTheSchema) {
    const std::vector<std::string> cells = {"07.12.2026 08:00:00",
                                            "80 Http - 127.0.0.1:41000 accept #1"};
    const std::vector<std::string> buttons = {"Yes", "No"};
    const auto lines = jsonLines([&](ui::ConsoleOutput& out) {
        const ui::Sample lost{1, 1765000000.5, 0, true};
        const std::vector<ui::ReportCell> figures = {{"1", true, 1}, {"gw (198.18.0.1)"}, {"33.3", true, 33.3}};
        for (int k = 0; k <= static_cast<int>(Kind::Tip); ++k) {
            ui::Event e{static_cast<Kind>(k), k % 2 ? "WS_TcpB#1" : "-"};
            e.control = 2;
            e.number = 3;
            e.text = "Tcp|-|Udp";
            e.detail = "\x8A";
            e.word = e.kind == Kind::Box ? "hand" : e.kind == Kind::Refused ? "press" : "OK";
            e.cells = e.kind == Kind::Box ? &buttons : &cells;
            e.sample = &lost;
            e.figures = &figures;
            out.report(e);
        }
    });
    // Each line is the very text nlohmann-json writes for the object it holds.
    for (const auto& l : lines)
        EXPECT_EQ(nlohmann::ordered_json::parse(l).dump(), l);
    const std::string file = ::testing::TempDir() + "/every-kind.jsonl";
    std::ofstream(file) << [&] {
        std::string all;
        for (const auto& l : lines)
            all += l + "\n";
        return all;
    }();
    EXPECT_EQ(eventSchemaFaults(file), "");
}
