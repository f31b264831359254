// The headless output: escaping and conversion, and lines written in batches
// without one being lost, reordered or kept from a waiter.
#include "platform/cp1250.h"
#include "support/testwindows.h"
#include "ui/eventfile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

using namespace testing_support;

namespace {

// One byte as printed, spelled out a byte at a time.
std::string printedByte(unsigned char c) {
    static const char* hex = "0123456789ABCDEF";
    switch (c) {
    case '\\':
        return "\\\\";
    case '\r':
        return "\\r";
    case '\n':
        return "\\n";
    case '\t':
        return "\\t";
    }
    const char32_t cp = cp1250::toUnicode(static_cast<char>(c));
    if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) return {'\\', 'x', hex[c >> 4], hex[c & 15]};
    return cp1250::toUtf8(std::string(1, static_cast<char>(c)));
}

} // namespace

TEST(ConsoleEscape, C1ControlsAreEscapedAndTheRestOfTheCodePageConverted) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"\x90\x98", "\\x90\\x98"}, // seen as c2 90, c2 98 before
        {"\x81\x83\x88", "\\x81\\x83\\x88"},
        {"\x80 \x8A \x9A \xA0", "€ Š š \xC2\xA0"},
        {"plain text, longer than eight bytes", "plain text, longer than eight bytes"},
        {std::string("a\0b", 3), "a\\x00b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ui::ConsoleOutput::escape(c.in), c.out) << c.in;
}

// Plain text is copied eight bytes at a time: every byte that needs work must be
// found wherever it stands in a run.
TEST(ConsoleEscape, EveryByteAtEveryPlaceOfARunIsPrintedAsItselfOrItsEscape) {
    for (int byte = 0; byte < 256; ++byte) {
        for (std::size_t at = 0; at < 20; ++at) {
            std::string in = "abcdefghijklmnopqrstuvwxyz";
            in[at] = static_cast<char>(byte);
            const std::string expected = in.substr(0, at) +
                                         printedByte(static_cast<unsigned char>(byte)) +
                                         in.substr(at + 1);
            ASSERT_EQ(ui::ConsoleOutput::escape(in), expected) << byte << " at " << at;
        }
    }
}

namespace {

// Appends the rows it is asked for, in one handler, and then waits to be let go.
class Printer : public ui::ToolWindow {
public:
    explicit Printer(std::string procedure) : ToolWindow(std::move(procedure), definition()) {}
    bool usesPlacement() const override { return false; }

    int rows = 3;
    std::shared_future<void> gate;
    std::promise<void> printed;

protected:
    void onControl(int) override {
        for (int i = 1; i <= rows; ++i)
            model().appendRow(1, {"line", std::to_string(i)});
        printed.set_value();
        if (gate.valid()) gate.wait();
    }

private:
    static ui::WindowDefinition definition() {
        ui::WindowDefinition d;
        ui::ControlDef list;
        list.number = 1;
        list.kind = ui::ControlKind::List;
        ui::ControlDef button;
        button.number = 2;
        button.kind = ui::ControlKind::Button;
        d.controls = {list, button};
        return d;
    }
};

struct Batches : ::testing::Test {
    CapturedConsole console;
    ui::ProcedureRegistry registry;
    ui::Desktop desktop{console.frontEnd, registry};

    std::shared_ptr<Printer> start(const std::string& procedure) {
        auto w =
            std::static_pointer_cast<Printer>(desktop.start(std::make_unique<Printer>(procedure)));
        w->invoke([] {}).get();
        return w;
    }
    std::size_t count(const std::string& text) {
        std::size_t n = 0;
        for (const auto& l : console.lines())
            n += l.find(text) != std::string::npos;
        return n;
    }
    ~Batches() override { desktop.closeAll(); }
};

} // namespace

// Lines printed by a handler wait for the end of its batch, yet a script's waitfor
// sees them at once; lines printed elsewhere are written at once.
TEST_F(Batches, HandlersLinesAreWrittenWhenTheBatchIsOverAndSeenByWaitersAtOnce) {
    auto w = start("Printer");
    std::promise<void> release;
    w->gate = release.get_future().share();
    auto printed = w->printed.get_future();
    w->postControl(2);
    printed.wait();
    EXPECT_TRUE(console.output.waitFor(w->name(), "line\t3", std::chrono::seconds(5)));
    EXPECT_EQ(count("row 1 line"), 0u) << "written before the batch was over";
    console.output.report({ui::Event::Kind::Beep, "-"});
    EXPECT_TRUE(console.has("- beep")) << "a line from outside a batch waited";
    release.set_value();
    ASSERT_TRUE(waitUntil([&] { return count("row 1 line") == 3; }));
    const auto lines = console.lines();
    std::vector<std::string> rows;
    for (const auto& l : lines)
        if (l.find("row 1 line") != std::string::npos) rows.push_back(l);
    EXPECT_EQ(rows,
              (std::vector<std::string>{w->name() + " row 1 line\t1", w->name() + " row 1 line\t2",
                                        w->name() + " row 1 line\t3"}));
}

// A waiter keeps up with a window that prints more lines than are kept for it: the
// oldest go while it waits, and the line it waits for is still found.
TEST(ConsoleWaits, ALineIsFoundAfterMoreLinesThanAreKept) {
    std::FILE* sink = std::tmpfile();
    {
        ui::ConsoleOutput out(sink);
        out.keepHistory(true);
        std::thread window([&] {
            for (int i = 0; i <= 250000; ++i) {
                ui::Event e{ui::Event::Kind::Field, "W#1"};
                e.text = i < 250000 ? "hay" : "needle";
                out.report(e);
            }
        });
        EXPECT_TRUE(out.waitFor("W#1", "needle", std::chrono::seconds(60)));
        window.join();
    }
    std::fclose(sink);
}

// Whoever waits for a window's handler (a script's press or set) finds its lines
// written when the wait ends.
TEST_F(Batches, AnInvokedHandlersLinesAreWrittenBeforeItsCallerGoesOn) {
    auto w = start("Printer");
    for (int round = 1; round <= 3; ++round) {
        w->invoke([&] { w->model().setCaption("round " + std::to_string(round)); }).get();
        EXPECT_TRUE(console.has(w->name() + " caption round " + std::to_string(round)));
    }
}

// Two windows printing floods at once: every line arrives, each window's in the
// order it printed them.
TEST_F(Batches, FloodsFromTwoWindowsLoseAndReorderNothing) {
    auto a = start("A");
    auto b = start("B");
    for (auto& w : {a, b})
        w->rows = 20000;
    a->postControl(2);
    b->postControl(2);
    ASSERT_TRUE(waitUntil([&] { return count("row 1 line") == 40000; }, 60000))
        << count("row 1 line");
    std::map<std::string, int> next;
    for (const auto& l : console.lines()) {
        const auto at = l.find(" row 1 line\t");
        if (at == std::string::npos) continue;
        const std::string name = l.substr(0, at);
        EXPECT_EQ(std::stoi(l.substr(at + 12)), ++next[name]) << l;
    }
    EXPECT_EQ(next[a->name()], 20000);
    EXPECT_EQ(next[b->name()], 20000);
}

// The same floods as JSON objects, on stdout and in an events file at once: more
// than the events file's writer queue holds, so the windows wait for it now and then.
// Both outputs have every line, in one order, each window's rows as printed.
TEST_F(Batches, JsonFloodsReachStdoutAndTheEventsFileWholeAndInOneOrder) {
    const std::string path = ::testing::TempDir() + "/floods.jsonl";
    std::filesystem::remove(path);
    ui::EventFile file;
    ASSERT_EQ(file.open(path), "");
    console.output.setJson(true);
    console.output.setEventFile(&file);
    std::vector<std::future<void>> printed;
    for (const char* name : {"A", "B"}) {
        auto w = start(name);
        w->rows = 10000;
        printed.push_back(w->printed.get_future());
        w->postControl(2);
    }
    for (auto& p : printed)
        p.wait();
    console.output.flush();
    console.output.setEventFile(nullptr);
    const auto lines = console.lines();
    std::vector<std::string> filed;
    std::ifstream in(path);
    for (std::string l; std::getline(in, l);)
        filed.push_back(l);
    EXPECT_EQ(filed, lines);
    std::map<std::string, int> next;
    for (const auto& l : lines) {
        const auto event = nlohmann::json::parse(l);
        if (event["event"] != "row") continue;
        EXPECT_EQ(std::stoi(event["cells"][1].get<std::string>()), ++next[event["window"]]) << l;
    }
    EXPECT_EQ(next, (std::map<std::string, int>{{"A#1", 10000}, {"B#1", 10000}}));
}
