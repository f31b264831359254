#include "qtsupport.h"

#include "ui/qt/formwidget.h"

#include <QAbstractItemModel>
#include <QTreeView>

namespace uiqt {
namespace {

constexpr int kLog = 1;

ui::WindowDefinition logDefinition() {
    ui::WindowDefinition d;
    d.caption = "Log";
    ui::ControlDef list;
    list.number = kLog;
    list.kind = ui::ControlKind::List;
    list.columns = {{80, "Time", 19}, {200, "Text", 0}};
    d.controls = {list};
    return d;
}

class RowBurstTest : public QtDesktopTest {
protected:
    void SetUp() override {
        m_window = open(std::make_unique<TestWindow>("Log", logDefinition()));
        ASSERT_TRUE(m_window);
        m_view = qobject_cast<QTreeView*>(m_frontEnd.subWindow(*m_window)->form()->controlWidget(kLog));
        ASSERT_NE(m_view, nullptr);
    }
    QAbstractItemModel& rows() { return *m_view->model(); }
    QString cell(int row, int column) { return rows().index(row, column).data().toString(); }

    std::shared_ptr<TestWindow> m_window;
    QTreeView* m_view = nullptr;
};

TEST_F(RowBurstTest, TenThousandRowsArriveInAFewBatchesWhileTheGuiKeepsRunning) {
    constexpr int kRows = 10000;
    const int flushesBefore = m_frontEnd.changeFlushes();
    // A timer on the GUI thread measures that its loop keeps turning during the burst.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(1);
    std::atomic<bool> written{false};
    m_window->invoke([&] {
        for (int i = 0; i < kRows; ++i)
            m_window->model().appendRow(kLog, {std::to_string(i), "line " + std::to_string(i)});
        written = true;
    });
    ASSERT_TRUE(waitUntil([&] { return written && rows().rowCount() == kRows; }, 60000));
    const int flushes = m_frontEnd.changeFlushes() - flushesBefore;
    RecordProperty("flushes", flushes);
    EXPECT_GE(flushes, 1);
    EXPECT_LT(flushes, kRows / 10) << "one GUI event per batch, not per row";
    EXPECT_GT(ticks, 0);
    EXPECT_EQ(cell(0, 1), "line 0");
    EXPECT_EQ(cell(kRows - 1, 0), QString::number(kRows - 1));
}

TEST_F(RowBurstTest, ClearsAndReplacementsKeepTheirPlaceAmongAppends) {
    onToolThread(*m_window, [this] {
        ui::WindowModel& m = m_window->model();
        for (int i = 0; i < 5; ++i) m.appendRow(kLog, {"old", std::to_string(i)});
        m.clearList(kLog);
        m.appendRow(kLog, {"gone", ""});
        m.setRows(kLog, {{"a", "1"}, {"b", "2"}});
        m.appendRow(kLog, {"c", "3"});
        m.appendRow(kLog, {"d \x8A", "4"}); // Windows-1250 capital S with caron
    });
    ASSERT_TRUE(waitUntil([&] { return rows().rowCount() == 4; }));
    // Give any straggling batch the chance to spoil the result.
    waitUntil([] { return false; }, 50);
    ASSERT_EQ(rows().rowCount(), 4);
    EXPECT_EQ(cell(0, 0), "a");
    EXPECT_EQ(cell(1, 1), "2");
    EXPECT_EQ(cell(2, 0), "c");
    EXPECT_EQ(cell(3, 0), QString::fromUtf8("d \u0160"));
    EXPECT_FALSE(m_view->isHeaderHidden());
    EXPECT_EQ(rows().headerData(0, Qt::Horizontal).toString(), "Time");
}

// Past its ceiling the list follows the model: the oldest rows leave the view and
// the line that counts them stands first.
TEST_F(RowBurstTest, TheViewDropsTheOldestRowsWithTheModel) {
    int most = 0;
    QObject::connect(&rows(), &QAbstractItemModel::rowsInserted,
                     [&] { most = std::max(most, rows().rowCount()); });
    constexpr int kAppended = 52001; // three drops of the oldest rows
    m_window->invoke([this] {
        for (int i = 1; i <= kAppended; ++i)
            m_window->model().appendRow(kLog, {"t", std::to_string(i)});
    });
    const int expected =
        static_cast<int>(ui::WindowModel::ListCeiling - ui::WindowModel::DropChunk + 1);
    ASSERT_TRUE(waitUntil(
        [&] { return rows().rowCount() == expected && cell(expected - 1, 1) == "52001"; }, 60000))
        << rows().rowCount();
    EXPECT_EQ(cell(0, 1), "3001 older rows dropped");
    EXPECT_EQ(cell(1, 1), "3002");
    EXPECT_LE(most, static_cast<int>(ui::WindowModel::ListCeiling));
}

} // namespace
} // namespace uiqt
