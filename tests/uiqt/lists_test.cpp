#include "qtsupport.h"

#include "platform/scratchdir.h"
#include "tools/blockers/ws_tcpb.h"
#include "ui/qt/formwidget.h"
#include "ui/qt/listview.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTest>

namespace uiqt {
namespace {

using tools::PortBlocker;

// The TCP blocker's own window, driven by the test instead of the tool.
std::unique_ptr<TestWindow> blockerWindow() {
    return std::make_unique<TestWindow>("WS_TcpB", tools::WS_TcpB::makeDefinition());
}

class ListTest : public QtDesktopTest {
protected:
    ui::ListView* list(const ui::ToolWindow& w, int control) {
        return qobject_cast<ui::ListView*>(m_frontEnd.subWindow(w)->form()->controlWidget(control));
    }
    void append(ui::ToolWindow& w, int control, int count, const char* prefix = "line ") {
        onToolThread(w, [&] {
            for (int i = 0; i < count; ++i)
                w.model().appendRow(control, {"07.12.2026 10:10:08", prefix + std::to_string(i)});
        });
    }
    static int margins(const ui::ListView* view) {
        return 2 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1);
    }
};

TEST_F(ListTest, ColumnsShowTheirDeclaredCharactersWholeInTheFontInUse) {
    auto w = open(blockerWindow());
    ui::ListView* log = list(*w, PortBlocker::LogControl);
    ui::ListView* ports = list(*w, PortBlocker::PortsControl);
    ASSERT_TRUE(log && ports);
    const struct {
        ui::ListView* view;
        int column;
        QString widest; // the declared characters as they are really written
    } cases[] = {
        {log, 0, QStringLiteral("07.12.2026 10:10:08")},
        {ports, 0, QStringLiteral("65535")},
        {ports, 0, QString(10, QLatin1Char('0'))},
    };
    for (const QFont& font : {QApplication::font(), QFont(QApplication::font().family(), 20)}) {
        log->setFont(font);
        ports->setFont(font);
        for (const auto& c : cases)
            EXPECT_GE(c.view->columnWidth(c.column),
                      QFontMetrics(font).horizontalAdvance(c.widest) + margins(c.view))
                << c.widest.toStdString() << " at " << font.pointSize() << " points";
        // Never narrower than the window's own dialog units either.
        EXPECT_GE(log->columnWidth(1), m_frontEnd.subWindow(*w)->form()->units().toPixelsX(320));
    }
}

TEST_F(ListTest, SelectedRowsAreCopiedWithAllTheirColumnsByKeyMenuAndEditCopy) {
    auto w = open(blockerWindow());
    ui::ListView* log = list(*w, PortBlocker::LogControl);
    append(*w, PortBlocker::LogControl, 4);
    ASSERT_TRUE(waitUntil([&] { return log->model()->rowCount() == 4; }));
    auto select = [&](int row) {
        log->selectionModel()->select(log->model()->index(row, 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    };
    select(3);
    select(1); // chosen out of order, copied in list order
    const QString two = "07.12.2026 10:10:08\tline 1\n07.12.2026 10:10:08\tline 3\n";
    log->setFocus();
    ASSERT_TRUE(waitUntil([&] { return QApplication::focusWidget() == log; }));

    QApplication::clipboard()->clear();
    QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), two);

    QApplication::clipboard()->clear();
    m_frontEnd.mainWindow().standardAction(ui::StandardAction::Copy);
    EXPECT_EQ(QApplication::clipboard()->text(), two);

    QMenu* menu = log->contextMenu();
    QStringList entries;
    for (QAction* a : menu->actions())
        entries << (a->isSeparator() ? "-" : a->text());
    EXPECT_EQ(entries, QStringList({"&Copy", "Select &all", "-", "Save list as..."}));
    menu->actions().at(1)->trigger(); // Select all
    menu->actions().at(0)->trigger(); // Copy
    EXPECT_EQ(QApplication::clipboard()->text().count('\n'), 4);
    delete menu;
}

TEST_F(ListTest, SaveListAsWritesEveryRowAsTheHeadlessSaveDoes) {
    ScratchDir dir;
    auto w = open(blockerWindow());
    ui::ListView* ports = list(*w, PortBlocker::PortsControl);
    onToolThread(*w, [&] {
        w->model().setRows(PortBlocker::PortsControl,
                           {{"80        ", "Http"}, {"1456      ", "Custom \x9a"}});
    });
    ASSERT_TRUE(waitUntil([&] { return ports->model()->rowCount() == 2; }));
    QMenu* menu = ports->contextMenu();
    menu->actions().at(3)->trigger();
    QFileDialog* dialog = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (dialog = ports->findChild<QFileDialog*>()) != nullptr; }));
    const QString file = QString::fromStdString((dir.path() / "ports.txt").string());
    dialog->selectFile(file);
    static_cast<QDialog*>(dialog)->accept();
    delete menu;
    EXPECT_TRUE(waitUntil([&] { return !ScratchDir::read("ports.txt").empty(); }));
    EXPECT_EQ(ScratchDir::read("ports.txt"), "80        \tHttp\n1456      \tCustom \xC5\xA1\n");
    EXPECT_TRUE(ports->saveTo(file));
    EXPECT_FALSE(ports->saveTo(QString::fromStdString((dir.path() / "no/such/x.txt").string())));
}

TEST_F(ListTest, AGrowingListFollowsItsNewestRowUnlessScrolledAway) {
    // Rows written before the window is first shown: it opens at the first.
    auto made = blockerWindow();
    made->onOpened = [](TestWindow& t) {
        for (int i = 0; i < 200; ++i)
            t.model().appendRow(PortBlocker::LogControl, {"07.12.2026 10:10:08", "banner"});
    };
    auto w = open(std::move(made));
    ui::ListView* log = list(*w, PortBlocker::LogControl);
    QScrollBar* bar = log->verticalScrollBar();
    ASSERT_TRUE(waitUntil([&] { return bar->maximum() > 0; }));
    QApplication::processEvents();
    EXPECT_EQ(bar->value(), 0);

    bar->triggerAction(QAbstractSlider::SliderToMinimum); // the person reads back
    append(*w, PortBlocker::LogControl, 50);
    ASSERT_TRUE(waitUntil([&] { return log->model()->rowCount() == 250; }));
    QApplication::processEvents();
    EXPECT_EQ(bar->value(), 0);
    EXPECT_FALSE(log->following());

    bar->triggerAction(QAbstractSlider::SliderToMaximum); // and comes back down
    append(*w, PortBlocker::LogControl, 50);
    ASSERT_TRUE(waitUntil([&] { return log->model()->rowCount() == 300; }));
    EXPECT_TRUE(waitUntil([&] { return bar->value() == bar->maximum(); }));
}

TEST_F(ListTest, AnEnlargedWindowGivesItsExtraRoomToItsLists) {
    auto w = open(blockerWindow());
    ui::ToolSubWindow* sub = m_frontEnd.subWindow(*w);
    QWidget* log = list(*w, PortBlocker::LogControl);
    QWidget* ports = list(*w, PortBlocker::PortsControl);
    QWidget* edit = sub->form()->controlWidget(tools::WS_TcpB::Edit);
    const QSize logBefore = log->size(), portsBefore = ports->size(), editBefore = edit->size();
    sub->resize(sub->size() + QSize(240, 160));
    ASSERT_TRUE(waitUntil([&] { return log->width() >= logBefore.width() + 200; }))
        << log->width() << " was " << logBefore.width();
    EXPECT_GE(ports->width(), portsBefore.width() + 200);
    EXPECT_GE(log->height() + ports->height(), logBefore.height() + portsBefore.height() + 140);
    EXPECT_EQ(edit->size(), editBefore); // buttons keep their size
}

} // namespace
} // namespace uiqt
