// A tool busy inside one handler: the progress figure it writes at every step and
// the busy cursor over its window, as the Qt front end shows them.
#include "qtsupport.h"

#include "ui/qt/formwidget.h"

#include <QLineEdit>
#include <QTreeView>

namespace uiqt {
namespace {

constexpr int kProgress = 1;
constexpr int kLog = 2;

ui::WindowDefinition busyDefinition() {
    ui::WindowDefinition d;
    d.caption = "Busy";
    ui::ControlDef progress = ui::makeControl(kProgress, ui::ControlKind::Display, "");
    progress.chars = 10;
    ui::ControlDef log = ui::makeControl(kLog, ui::ControlKind::List, "");
    log.columns = {{80, "", 20}, {160, "", 40}};
    d.controls = {progress, log};
    return d;
}

class BusyWindowTest : public QtDesktopTest {
protected:
    void SetUp() override {
        m_window = open(std::make_unique<TestWindow>("Busy", busyDefinition()));
        ASSERT_TRUE(m_window);
        m_sub = m_frontEnd.subWindow(*m_window);
        m_progress = qobject_cast<QLineEdit*>(m_sub->form()->controlWidget(kProgress));
        ASSERT_NE(m_progress, nullptr);
    }

    std::shared_ptr<TestWindow> m_window;
    ui::ToolSubWindow* m_sub = nullptr;
    QLineEdit* m_progress = nullptr;
};

TEST_F(BusyWindowTest, AFieldWrittenAtEveryStepReachesTheGuiOncePerBatch) {
    constexpr int kSteps = 65535;
    int shown = 0;
    QObject::connect(m_progress, &QLineEdit::textChanged, [&] { ++shown; });
    const int flushesBefore = m_frontEnd.changeFlushes();
    std::atomic<bool> written{false};
    m_window->invoke([&] {
        ui::WindowModel& m = m_window->model();
        for (int step = 1; step <= kSteps; ++step) {
            m.setValue(kProgress, std::to_string(step * 100 / kSteps) + " %");
            // Rows among the figures keep their order and all arrive.
            if (step % 10000 == 0) m.appendRow(kLog, {"", "row " + std::to_string(step)});
        }
        m.setValue(kProgress, "");
        m.setValue(kProgress, "done");
        written = true;
    });
    ASSERT_TRUE(waitUntil([&] { return written && m_progress->text() == "done"; }, 60000));
    const int flushes = m_frontEnd.changeFlushes() - flushesBefore;
    EXPECT_LE(shown, 2 * flushes) << "one text per field and batch, not one per step";
    EXPECT_LT(shown, kSteps / 10);
    auto* rows = qobject_cast<QTreeView*>(m_sub->form()->controlWidget(kLog))->model();
    ASSERT_EQ(rows->rowCount(), 6);
    EXPECT_EQ(rows->index(5, 1).data().toString(), "row 60000");
}

TEST_F(BusyWindowTest, TheBusyCursorStandsOverTheWindowUntilTheToolIsDone) {
    EXPECT_FALSE(m_sub->testAttribute(Qt::WA_SetCursor));
    onToolThread(*m_window, [this] { m_window->model().setWaitCursor(true); });
    ASSERT_TRUE(waitUntil([&] { return m_sub->testAttribute(Qt::WA_SetCursor); }));
    EXPECT_EQ(m_sub->cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(m_progress->cursor().shape(), Qt::WaitCursor); // over a text field too
    onToolThread(*m_window, [this] { m_window->model().setWaitCursor(false); });
    ASSERT_TRUE(waitUntil([&] { return !m_sub->testAttribute(Qt::WA_SetCursor); }));
    EXPECT_NE(m_progress->cursor().shape(), Qt::WaitCursor);
}

} // namespace
} // namespace uiqt
