// A tool asks for its window to come to the front; a tool may decline to open.
#include "qtsupport.h"

#include <QMdiArea>

namespace uiqt {
namespace {

ui::WindowDefinition plainWindow(const char* caption) {
    ui::WindowDefinition d;
    d.caption = caption;
    return d;
}

// A window that declines to open, as a tool allowing one window at a time does.
class DecliningWindow : public TestWindow {
public:
    using TestWindow::TestWindow;

protected:
    bool onStart() override { return false; }
};

class BringToFrontTest : public QtDesktopTest {};

TEST_F(BringToFrontTest, TheWindowIsRestoredAndMadeTheActiveOne) {
    auto first = open(std::make_unique<TestWindow>("First", plainWindow("First")));
    auto second = open(std::make_unique<TestWindow>("Second", plainWindow("Second")));
    ui::ToolSubWindow* sub = m_frontEnd.subWindow(*first);
    QMdiArea* area = m_frontEnd.mainWindow().mdiArea();
    sub->showMinimized();
    area->setActiveSubWindow(m_frontEnd.subWindow(*second));
    ASSERT_TRUE(waitUntil([&] { return sub->isMinimized(); }));

    onToolThread(*first, [&] { first->bringToFront(); });
    EXPECT_TRUE(waitUntil([&] { return !sub->isMinimized() && area->activeSubWindow() == sub; }));
}

TEST_F(BringToFrontTest, AWindowThatDeclinesNeverShows) {
    const auto before = m_frontEnd.mainWindow().mdiArea()->subWindowList().size();
    std::shared_ptr<ui::ToolWindow> declined =
        m_desktop->start(std::make_unique<DecliningWindow>("Declined", plainWindow("Declined")));
    ASSERT_TRUE(declined);
    EXPECT_TRUE(waitUntil([&] { return m_desktop->windows().empty(); }));
    EXPECT_TRUE(declined->isClosed());
    EXPECT_FALSE(declined->isOpen());
    EXPECT_EQ(m_frontEnd.subWindow(*declined), nullptr);
    EXPECT_EQ(m_frontEnd.mainWindow().mdiArea()->subWindowList().size(), before);
}

} // namespace
} // namespace uiqt
