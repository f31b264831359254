#include "qtsupport.h"

#include "app/mainws.h"
#include "platform/scratchdir.h"
#include "tools/blockers/ws_tcpb.h"
#include "tools/icmp/ping_ip.h"
#include "tools/lookup/dnsx.h"
#include "tools/plain/unos_porta.h"
#include "ui/qt/formwidget.h"
#include "ui/qt/framemenu.h"
#include "ui/qt/programfiles.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <algorithm>

namespace uiqt {
namespace {

template <typename Tool> std::unique_ptr<TestWindow> toolWindow(const char* procedure) {
    return std::make_unique<TestWindow>(procedure, Tool::makeDefinition());
}

std::unique_ptr<TestWindow> placedAt(std::unique_ptr<TestWindow> w, ui::Placement p) {
    w->onOpened = [p](TestWindow& t) { t.model().setPlacement(p); };
    return w;
}

class FrameArrangeTest : public QtDesktopTest {
protected:
    ui::FrameWindow& main() { return m_frontEnd.mainWindow(); }
    QMdiArea& area() { return *main().mdiArea(); }
    ui::ToolSubWindow* sub(const ui::ToolWindow& w) { return m_frontEnd.subWindow(w); }
    QString zoneOne() { return main().statusZone(1)->text(); }
};

TEST_F(FrameArrangeTest, ZoneOneShowsTheActiveWindowsDescriptionUnlessAMenuItemIsHighlighted) {
    auto frame = open(std::make_unique<TestWindow>("MainWS", app::MainWS::makeDefinition()));
    EXPECT_EQ(zoneOne(), "Brivel by Dovak.");
    auto ping = open(toolWindow<tools::Ping_ip>("Ping_ip"));
    EXPECT_TRUE(waitUntil([&] { return zoneOne() == "Ping IP address"; }))
        << zoneOne().toStdString();
    auto blocker = open(toolWindow<tools::WS_TcpB>("WS_TcpB"));
    EXPECT_TRUE(waitUntil([&] { return zoneOne() == "TCP blocker"; })) << zoneOne().toStdString();
    area().setActiveSubWindow(sub(*ping));
    EXPECT_TRUE(waitUntil([&] { return zoneOne() == "Ping IP address"; }));

    // A highlighted menu item shows its help line; the menu closing takes it away.
    QMenu* ws = main().menuBar()->actions().at(1)->menu();
    main().frameMenu()->action(app::MainWS::Traceroute)->hover();
    EXPECT_EQ(zoneOne(), "Traceroute IP");
    Q_EMIT ws->aboutToHide();
    EXPECT_EQ(zoneOne(), "Ping IP address");

    for (auto* w : {ping.get(), blocker.get()})
        sub(*w)->close();
    EXPECT_TRUE(waitUntil([&] { return area().subWindowList().isEmpty(); }));
    EXPECT_TRUE(waitUntil([&] { return zoneOne() == "Brivel by Dovak."; }))
        << zoneOne().toStdString();
}

TEST_F(FrameArrangeTest, UntitledWindowsAreTitledByTheirDescriptionAndAllShowTheProgramsIcon) {
    auto frame = open(std::make_unique<TestWindow>("MainWS", app::MainWS::makeDefinition()));
    auto lookup = open(toolWindow<tools::DNSx>("DNSx"));
    auto launcher = open(toolWindow<tools::Unos_porta>("Unos_porta"));
    auto nameless = open(std::make_unique<TestWindow>("Nameless", ui::WindowDefinition{}));
    EXPECT_EQ(sub(*lookup)->windowTitle(), "DNS"); // "DNS " without its trailing blank
    EXPECT_EQ(sub(*launcher)->windowTitle(), "Port launcher");
    EXPECT_EQ(sub(*nameless)->windowTitle(), "Nameless");

    QMenu* window = main().menuBar()->actions().at(3)->menu();
    Q_EMIT window->aboutToShow();
    QStringList listed;
    for (QAction* a : window->actions())
        if (a->text().startsWith('&') && a->text().at(1).isDigit()) listed << a->text();
    EXPECT_EQ(listed, QStringList({"&1 DNS", "&2 Port launcher", "&3 Nameless"}));

    // A caption the tool empties gives way to the description again.
    onToolThread(*lookup, [&] { lookup->model().setCaption("Looking up"); });
    EXPECT_TRUE(waitUntil([&] { return sub(*lookup)->windowTitle() == "Looking up"; }));
    onToolThread(*lookup, [&] { lookup->model().setCaption(""); });
    EXPECT_TRUE(waitUntil([&] { return sub(*lookup)->windowTitle() == "DNS"; }));

    const QIcon icon = QApplication::windowIcon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_FALSE(icon.pixmap(32, 32).isNull()); // the SVG is drawn
    EXPECT_EQ(main().windowIcon().cacheKey(), icon.cacheKey());
    EXPECT_EQ(sub(*lookup)->windowIcon().cacheKey(), icon.cacheKey());
}

class ArrangeTest : public FrameArrangeTest {
protected:
    void SetUp() override {
        main().resize(620, 420); // smaller than four blockers side by side
        main().show();
        for (int i = 0; i < 4; ++i)
            m_tools.push_back(open(toolWindow<tools::WS_TcpB>("WS_TcpB")));
        for (auto& t : m_tools)
            ASSERT_TRUE(waitUntil([&] { return t->model().placement().width > 0; }));
        for (auto& t : m_tools)
            m_saved.push_back(t->model().placement());
    }
    // The placements the windows would be saved with still hold their sizes.
    void expectSavedSizesKept() {
        QApplication::processEvents();
        for (std::size_t i = 0; i < m_tools.size(); ++i) {
            const ui::Placement p = m_tools[i]->model().placement();
            EXPECT_EQ(p.width, m_saved[i].width) << i;
            EXPECT_EQ(p.height, m_saved[i].height) << i;
        }
    }
    std::vector<std::shared_ptr<TestWindow>> m_tools;
    std::vector<ui::Placement> m_saved;
};

TEST_F(ArrangeTest, TileNeverShrinksAWindowBelowItsControlsAndIsNotSavedAsItsSize) {
    main().standardAction(ui::StandardAction::Tile);
    const QRect inside(QPoint(0, 0), area().viewport()->size());
    for (auto& t : m_tools) {
        const QSize size = sub(*t)->size(), needed = sub(*t)->neededSize();
        EXPECT_GE(size.width(), needed.width());
        EXPECT_GE(size.height(), needed.height());
        // Where it fits, inside the area.
        if (size.width() <= inside.width() && size.height() <= inside.height()) {
            EXPECT_TRUE(inside.contains(sub(*t)->geometry()));
        }
    }
    // The first cell is the area's top left corner.
    EXPECT_EQ(sub(*m_tools.front())->pos(), QPoint(0, 0));
    expectSavedSizesKept();
    // Resized by the person afterwards, the new size is theirs and is saved.
    ui::ToolSubWindow* resized = sub(*m_tools[1]);
    resized->resize(resized->size() + QSize(30, 20));
    const int width = resized->form()->units().toUnitsX(resized->width());
    EXPECT_TRUE(waitUntil([&] { return m_tools[1]->model().placement().width == width; }))
        << m_tools[1]->model().placement().width << " not " << width;
}

TEST_F(ArrangeTest, CascadeShowsEveryCaptionWholeAndKeepsTheWindowsSizes) {
    std::vector<QSize> sizes;
    for (auto& t : m_tools)
        sizes.push_back(sub(*t)->size());
    main().standardAction(ui::StandardAction::Cascade);
    std::vector<ui::ToolSubWindow*> subs;
    for (auto& t : m_tools)
        subs.push_back(sub(*t));
    std::sort(subs.begin(), subs.end(), [](auto* a, auto* b) { return a->y() < b->y(); });
    for (std::size_t i = 0; i + 1 < subs.size(); ++i) {
        // The next window starts below the whole caption of the one before.
        EXPECT_GE(subs[i + 1]->y() - subs[i]->y(), subs[i]->captionHeight()) << i;
        EXPECT_GT(subs[i + 1]->x(), subs[i]->x()) << i;
    }
    for (std::size_t i = 0; i < m_tools.size(); ++i)
        EXPECT_EQ(sub(*m_tools[i])->size(), sizes[i].expandedTo(sub(*m_tools[i])->neededSize()));
    expectSavedSizesKept();
}

TEST_F(FrameArrangeTest, RestoredWindowsAreKeptInsideTheClientArea) {
    main().resize(620, 420);
    main().show();
    const struct {
        const char* name;
        ui::Placement placement; // dialog units, as the settings file holds them
    } cases[] = {
        {"FarOutside", {5000, 4000, 200, 120, false, false}},
        {"LeftAndAbove", {-300, -200, 200, 120, false, false}},
        {"LargerThanTheArea", {10, 10, 4000, 3000, false, false}},
    };
    for (const auto& c : cases) {
        auto w = open(placedAt(toolWindow<tools::Ping_ip>("Ping_ip"), c.placement));
        const QRect inside(QPoint(0, 0), area().viewport()->size());
        const QRect shown = sub(*w)->geometry();
        EXPECT_TRUE(inside.contains(shown)) << c.name << " " << shown.x() << "," << shown.y() << " "
                                            << shown.width() << "x" << shown.height();
        EXPECT_GE(shown.width(), sub(*w)->neededSize().width()) << c.name;
    }
}

TEST_F(FrameArrangeTest, TheFramesFirstAndRestoredSizesFitTheScreen) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(main().geometry()));
    auto frame =
        open(placedAt(std::make_unique<TestWindow>("MainWS", app::MainWS::makeDefinition()),
                      {-50, 30, 5000, 4000, false, false}));
    EXPECT_TRUE(waitUntil([&] { return screen.contains(main().frameGeometry()); }))
        << main().geometry().x() << "," << main().geometry().y() << " " << main().geometry().width()
        << "x" << main().geometry().height() << " on " << screen.width() << "x" << screen.height();
    // The status bar is on the screen with it.
    const QRect zone(main().statusZone(3)->mapToGlobal(QPoint(0, 0)), main().statusZone(3)->size());
    EXPECT_TRUE(screen.contains(zone));
}

TEST(ProgramFiles, SoundsAndHelpAreFoundBesideTheProgramAndTheCurrentDirectoryComesFirst) {
    ScratchDir dir;
    QDir root(QString::fromStdString(dir.path().string()));
    root.mkpath("install/bin");
    root.mkpath("install/share/wstoolbox/sounds");
    root.mkpath("build/help");
    ScratchDir::write(dir.path() / "install/share/wstoolbox/sounds/Alarm.wav", "installed");
    ScratchDir::write(dir.path() / "build/help/contents.html", "<title>x</title>");
    const QString installed = root.filePath("install/bin"), built = root.filePath("build");
    using ui::programfiles::find;
    EXPECT_EQ(find("sounds", "Alarm.wav", installed),
              root.filePath("install/share/wstoolbox/sounds/Alarm.wav"));
    EXPECT_EQ(find("sounds", "alarm.WAV", installed),
              root.filePath("install/share/wstoolbox/sounds/Alarm.wav")); // typed in lower case
    EXPECT_EQ(find("sounds", "Siren.wav", installed), "");
    EXPECT_EQ(find("sounds", "../sounds/Alarm.wav", installed), "");
    EXPECT_EQ(ui::programfiles::directoryWith("help", "contents.html", built),
              root.filePath("build/help"));
    ScratchDir::write("Alarm.wav", "mine"); // the person's own, in the current directory
    EXPECT_EQ(find("sounds", "Alarm.wav", installed), root.filePath("Alarm.wav"));
}

} // namespace
} // namespace uiqt
