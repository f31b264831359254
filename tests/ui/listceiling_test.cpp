// No list grows past its ceiling, whatever a peer sends: the oldest rows go and
// the first row says how many; front ends that follow the changes hold the same rows.
#include "ui/console/consoleoutput.h"
#include "ui/eventwindow.h"
#include "ui/windowmodel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

namespace {

using ui::Change;
using ui::Row;
using ui::WindowModel;

constexpr int kLog = 1;
constexpr int kNames = 2;

ui::WindowDefinition lists() {
    ui::WindowDefinition d;
    ui::ControlDef log;
    log.number = kLog;
    log.kind = ui::ControlKind::List;
    log.columns = {{80, "Time", 19}, {200, "Text", 0}};
    ui::ControlDef names = log;
    names.number = kNames;
    names.columns = {};
    d.controls = {log, names};
    return d;
}

// A front end in miniature: rebuilds each list from the changes alone, and
// remembers the most rows a list ever held.
class Replica : public ui::ModelObserver {
public:
    explicit Replica(WindowModel& model) : m_model(model) { model.addObserver(this); }
    ~Replica() override { m_model.removeObserver(this); }
    void modelChanged(const Change& c) override {
        auto& rows = m_rows[c.control];
        switch (c.kind) {
        case Change::Kind::RowAppended:
            rows.push_back(c.row);
            break;
        case Change::Kind::RowsDropped:
            ASSERT_LE(c.count, rows.size());
            rows.erase(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(c.count));
            rows.insert(rows.begin(), c.row);
            ++drops;
            break;
        case Change::Kind::ListCleared:
            rows.clear();
            break;
        case Change::Kind::ListChanged:
            rows = m_model.rows(c.control);
            break;
        default:
            break;
        }
        most = std::max(most, rows.size());
    }
    std::vector<Row>& rows(int control) { return m_rows[control]; }
    std::size_t most = 0;
    int drops = 0;

private:
    WindowModel& m_model;
    std::map<int, std::vector<Row>> m_rows;
};

std::string number(std::size_t i) {
    return std::to_string(i);
}

TEST(ListCeiling, OldestRowsGoAndTheFirstRowCountsThem) {
    struct Case {
        int control;
        std::size_t appended; // in all, by the end of this step
        Row line;             // the first row afterwards; empty when nothing was dropped
    } steps[] = {
        {kLog, WindowModel::ListCeiling, {}},
        {kLog, WindowModel::ListCeiling + 1, {"", "1001 older rows dropped"}},
        {kLog, 120500, {"", "71001 older rows dropped"}},
        {kNames, 51000, {"1001 older rows dropped"}}, // one column: the line in it
    };
    WindowModel model(lists());
    Replica replica(model);
    std::map<int, std::size_t> appended;
    for (const auto& c : steps) {
        for (std::size_t& i = appended[c.control]; i < c.appended;) {
            ++i;
            model.appendRow(c.control, {"t", number(i)});
        }
        const auto rows = model.rows(c.control);
        EXPECT_LE(replica.most, WindowModel::ListCeiling) << c.appended;
        EXPECT_EQ(replica.rows(c.control), rows) << c.appended;
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows.back(), (Row{"t", number(c.appended)})) << "the newest row stays";
        if (c.line.empty()) {
            EXPECT_EQ(rows.size(), c.appended);
            EXPECT_EQ(replica.drops, 0);
            continue;
        }
        EXPECT_EQ(rows.front(), c.line) << c.appended;
        // Every row after the line is there, in order, up to the newest.
        const std::size_t kept = rows.size() - 1;
        EXPECT_EQ(rows[1][1], number(c.appended - kept + 1)) << c.appended;
    }
    // One drop per DropChunk rows past the ceiling, not one per row.
    EXPECT_EQ(replica.drops, 71 + 1);
}

TEST(ListCeiling, ClearingOrReplacingStartsTheCountAfresh) {
    WindowModel model(lists());
    Replica replica(model);
    for (std::size_t i = 0; i < 51000; ++i)
        model.appendRow(kLog, {"t", number(i)});
    model.clearList(kLog);
    for (std::size_t i = 0; i < 51000; ++i)
        model.appendRow(kLog, {"t", number(i)});
    EXPECT_EQ(model.rows(kLog).front(), (Row{"", "1001 older rows dropped"}));

    std::vector<Row> many(70000, Row{"r", "x"});
    model.setRows(kLog, many);
    const auto rows = model.rows(kLog);
    EXPECT_EQ(rows.size(), WindowModel::ListCeiling - WindowModel::DropChunk + 1);
    EXPECT_EQ(rows.front(), (Row{"", "21000 older rows dropped"}));
    EXPECT_EQ(replica.rows(kLog), rows);
}

TEST(ListCeiling, TheConsoleSaysWhatWasDropped) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    {
        ui::ConsoleOutput output(file);
        ui::EventWindow window(output, "Log#1");
        WindowModel model(lists());
        model.addObserver(&window);
        for (std::size_t i = 1; i <= 52002; ++i)
            model.appendRow(kLog, {"t", number(i)});
        model.removeObserver(&window);
    }
    std::rewind(file);
    std::vector<std::string> drops;
    std::size_t rows = 0;
    char line[256];
    while (std::fgets(line, sizeof line, file)) {
        const std::string l(line);
        if (l.starts_with("Log#1 row 1 ")) ++rows;
        if (l.starts_with("Log#1 drop ")) drops.push_back(l);
    }
    std::fclose(file);
    EXPECT_EQ(rows, 52002u) << "every row is still printed";
    EXPECT_EQ(drops, (std::vector<std::string>{"Log#1 drop 1 1001 1001 older rows dropped\n",
                                               "Log#1 drop 1 1001 2001 older rows dropped\n",
                                               "Log#1 drop 1 1001 3001 older rows dropped\n"}));
}

} // namespace
