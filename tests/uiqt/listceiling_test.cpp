// The Qt list follows the model past its ceiling: the oldest rows leave the view
// and the line that counts them stands first.
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

class ListCeilingTest : public QtDesktopTest {};

TEST_F(ListCeilingTest, TheViewDropsTheOldestRowsWithTheModel) {
    auto window = open(std::make_unique<TestWindow>("Log", logDefinition()));
    ASSERT_TRUE(window);
    auto* view =
        qobject_cast<QTreeView*>(m_frontEnd.subWindow(*window)->form()->controlWidget(kLog));
    ASSERT_NE(view, nullptr);
    QAbstractItemModel& rows = *view->model();
    int most = 0;
    QObject::connect(&rows, &QAbstractItemModel::rowsInserted,
                     [&] { most = std::max(most, rows.rowCount()); });
    constexpr int kAppended = 52001; // three drops of the oldest rows
    window->invoke([&window] {
        for (int i = 1; i <= kAppended; ++i)
            window->model().appendRow(kLog, {"t", std::to_string(i)});
    });
    const auto cell = [&](int row, int column) {
        return rows.index(row, column).data().toString();
    };
    const int expected =
        static_cast<int>(window->model().ListCeiling - window->model().DropChunk + 1);
    ASSERT_TRUE(waitUntil(
        [&] { return rows.rowCount() == expected && cell(expected - 1, 1) == "52001"; }, 60000))
        << rows.rowCount();
    EXPECT_EQ(cell(0, 1), "3001 older rows dropped");
    EXPECT_EQ(cell(1, 1), "3002");
    EXPECT_LE(most, static_cast<int>(window->model().ListCeiling));
}

} // namespace
} // namespace uiqt
