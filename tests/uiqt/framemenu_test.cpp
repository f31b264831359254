#include "qtsupport.h"

#include "ui/qt/framemenu.h"
#include "ui/qt/framewindow.h"
#include "ui/qt/helpviewer.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>

namespace uiqt {
namespace {

enum { PrintSetup = 1, Exit, TcpPorts, Ping, Sound, Tile };

using ui::menuItem;
using ui::menuSeparator;
using ui::submenu;

// A few items of the real frame's menu, with their quirks: access keys, a
// trailing blank, a submenu, a check item and the window list.
ui::WindowDefinition frameDefinition() {
    ui::WindowDefinition d;
    d.caption = "WS by QN";
    d.statusZones = 3;
    ui::MenuItemDef sound = menuItem(Sound, "Sound", "Sound on/off");
    sound.checkItem = true;
    ui::MenuItemDef window = submenu("&Window", "Create and Arrange windows",
                                     {menuItem(Tile, "T&ile", "Make all open windows visible")});
    window.items[0].action = ui::StandardAction::Tile;
    window.windowList = true;
    d.menu = {submenu("&File", "",
                      {menuItem(PrintSetup, "P&rint Setup...", "Setup Printer"), menuSeparator(),
                       menuItem(Exit, "E&xit", "Exit this application")}),
              submenu("WS", "Brivel",
                      {submenu("Port blocker", "Port blocker",
                               {menuItem(TcpPorts, "Tcp ports ", "TCP ports blocker")}),
                       menuItem(Ping, "Ping ", "Ping IP"), menuSeparator(), sound}),
              window};
    return d;
}

QStringList texts(const QList<QAction*>& actions) {
    QStringList out;
    for (QAction* a : actions)
        out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

class FrameTest : public QtDesktopTest {
protected:
    void SetUp() override {
        m_frame = open(std::make_unique<TestWindow>("MainWS", frameDefinition()));
        ASSERT_TRUE(m_frame);
    }
    ui::FrameWindow& main() { return m_frontEnd.mainWindow(); }
    QMenu* topMenu(int index) { return main().menuBar()->actions().at(index)->menu(); }

    std::shared_ptr<TestWindow> m_frame;
};

TEST_F(FrameTest, MenuBarKeepsLabelsWithAccessKeysAndTrailingBlanks) {
    EXPECT_EQ(main().windowTitle(), "WS by QN");
    EXPECT_EQ(texts(main().menuBar()->actions()), QStringList({"&File", "WS", "&Window"}));
    EXPECT_EQ(texts(topMenu(0)->actions()), QStringList({"P&rint Setup...", "-", "E&xit"}));
    EXPECT_EQ(texts(topMenu(1)->actions()), QStringList({"Port blocker", "Ping ", "-", "Sound"}));
    QMenu* blocker = topMenu(1)->actions().at(0)->menu();
    ASSERT_NE(blocker, nullptr);
    EXPECT_EQ(texts(blocker->actions()), QStringList({"Tcp ports "}));
    EXPECT_TRUE(main().frameMenu()->action(Sound)->isCheckable());
}

TEST_F(FrameTest, HoveringAnItemShowsItsHelpLineInTheFirstZone) {
    QLabel* zone = main().statusZone(1);
    ASSERT_NE(zone, nullptr);
    const struct {
        QAction* action;
        const char* help;
    } cases[] = {
        {main().frameMenu()->action(PrintSetup), "Setup Printer"},
        {main().frameMenu()->action(TcpPorts), "TCP ports blocker"},
        {main().frameMenu()->action(Ping), "Ping IP"},
        {topMenu(1)->menuAction(), "Brivel"},
        {topMenu(1)->actions().at(0), "Port blocker"},
    };
    for (const auto& c : cases) {
        ASSERT_NE(c.action, nullptr);
        c.action->hover();
        EXPECT_EQ(zone->text(), c.help) << c.action->text().toStdString();
    }
    // When the menu closes the zone shows again what the frame wrote there.
    onToolThread(*m_frame, [this] { m_frame->model().setStatusZone(1, "Ready"); });
    ASSERT_TRUE(waitUntil([&] { return zone->text() == "Ready"; }));
    main().frameMenu()->action(Ping)->hover();
    Q_EMIT topMenu(1)->aboutToHide();
    EXPECT_EQ(zone->text(), "Ready");
}

TEST_F(FrameTest, StatusZonesFollowTheModel) {
    // 0x8A is Windows-1250's capital S with caron.
    onToolThread(*m_frame, [this] {
        m_frame->model().setStatusZone(2, "Monday, June 1, 2026 \x8A");
        m_frame->model().setStatusZone(3, "12:34:56");
    });
    EXPECT_TRUE(waitUntil([&] {
        return main().statusZone(2)->text() == QString::fromUtf8("Monday, June 1, 2026 \u0160") &&
               main().statusZone(3)->text() == "12:34:56";
    }));
    EXPECT_EQ(main().statusZone(4), nullptr);
}

TEST_F(FrameTest, ChoosingAnItemReachesTheFrameAndCheckMarksFollowTheModel) {
    QAction* sound = main().frameMenu()->action(Sound);
    sound->trigger();
    ASSERT_TRUE(waitUntil([&] { return m_frame->menus() == std::vector<int>{Sound}; }));
    // The mark is the frame's to set, not Qt's.
    EXPECT_FALSE(sound->isChecked());
    onToolThread(*m_frame, [this] { m_frame->model().setMenuChecked(Sound, true); });
    EXPECT_TRUE(waitUntil([&] { return sound->isChecked(); }));

    main().frameMenu()->action(Exit)->trigger();
    ASSERT_TRUE(waitUntil([&] { return m_frame->menus().size() == 2; }));
    EXPECT_EQ(m_frame->menus().back(), Exit);
}

TEST_F(FrameTest, WindowMenuListsOpenToolWindowsAndActivatesTheChosenOne) {
    ui::WindowDefinition tool;
    tool.caption = "Ping";
    tool.description = "Ping IP address";
    auto first = open(std::make_unique<TestWindow>("Ping_ip", tool));
    tool.caption = "Traceroute";
    auto made = std::make_unique<TestWindow>("Traceroute", tool);
    made->model().setCaption("vm"); // the tool's own caption does not say which tool it is
    auto second = open(std::move(made));
    QMenu* window = topMenu(2);
    Q_EMIT window->aboutToShow();
    const QStringList listed = texts(window->actions());
    // Each window is listed with the tool's name before its caption.
    EXPECT_EQ(listed,
              QStringList({"T&ile", "-", "&1 Ping IP address - Ping", "&2 Traceroute - vm"}));
    window->actions().at(2)->trigger();
    EXPECT_EQ(main().mdiArea()->activeSubWindow()->windowTitle(), "Ping");
    // Shown again, the list is rebuilt rather than appended to.
    Q_EMIT window->aboutToShow();
    EXPECT_EQ(texts(window->actions()).size(), listed.size());
}

TEST_F(FrameTest, ClosingTheMainWindowAsksTheFrame) {
    EXPECT_TRUE(main().close() == false);
    EXPECT_TRUE(waitUntil([&] { return m_frame->isClosed(); }));
}

TEST(HelpPages, SearchFindsThePagesHoldingEveryWord) {
    const QStringList pages = ui::HelpViewer::pages();
    EXPECT_EQ(pages.size(), QDir(":/help").entryList({"*.html"}).size()); // every one listed
    for (const QString& page : pages)
        EXPECT_NE(ui::HelpViewer::title(page), page) << page.toStdString();
    EXPECT_TRUE(ui::HelpViewer::search("ping_group_range").contains("ping.html"));
    EXPECT_TRUE(ui::HelpViewer::search("varlo.ini").contains("files.html"));
    EXPECT_TRUE(ui::HelpViewer::search("Varlo.tcp blocker").contains("tools.html"));
    EXPECT_TRUE(ui::HelpViewer::search("--headless").contains("headless.html"));
    EXPECT_TRUE(ui::HelpViewer::search("search field").contains("viewer.html"));
    EXPECT_TRUE(ui::HelpViewer::search("ping zebra-unicorn").isEmpty());
}

} // namespace
} // namespace uiqt
