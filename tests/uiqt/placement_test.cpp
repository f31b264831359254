#include "qtsupport.h"

#include "ui/qt/formwidget.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMdiArea>

namespace uiqt {
namespace {

bool samePlacement(const ui::Placement& a, const ui::Placement& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height &&
           a.minimized == b.minimized && a.maximized == b.maximized;
}

ui::WindowDefinition entryWindow(const char* caption) {
    ui::WindowDefinition d;
    d.caption = caption;
    ui::ControlDef entry;
    entry.number = 1;
    entry.kind = ui::ControlKind::Entry;
    entry.chars = 20;
    d.controls = {entry};
    return d;
}

class PlacementTest : public QtDesktopTest {
protected:
    void SetUp() override {
        m_window = open(std::make_unique<TestWindow>("Placed", entryWindow("Placed")));
        m_sub = m_frontEnd.subWindow(*m_window);
        m_units = &m_sub->form()->units();
    }
    std::shared_ptr<TestWindow> m_window;
    ui::ToolSubWindow* m_sub = nullptr;
    const ui::DialogUnits* m_units = nullptr;
};

TEST_F(PlacementTest, TheToolsPlacementIsAppliedInDialogUnits) {
    const ui::Placement wanted{20, 16, 200, 120, false, false};
    onToolThread(*m_window, [&] { m_window->model().setPlacement(wanted); });
    const QRect pixels(m_units->toPixelsX(20), m_units->toPixelsY(16), m_units->toPixelsX(200),
                       m_units->toPixelsY(120));
    EXPECT_TRUE(waitUntil([&] { return m_sub->geometry() == pixels; }));
    onToolThread(*m_window, [&] { m_window->model().setPlacement({20, 16, 200, 120, true, false}); });
    EXPECT_TRUE(waitUntil([&] { return m_sub->isMinimized(); }));
    // Applying the tool's placement is not the person moving the window.
    EXPECT_TRUE(samePlacement(m_window->model().placement(), {20, 16, 200, 120, true, false}));
}

TEST_F(PlacementTest, WhatThePersonDoesIsReportedBackWithTheNormalRectangle) {
    const QRect moved(m_units->toPixelsX(40), m_units->toPixelsY(24), m_units->toPixelsX(160),
                      m_units->toPixelsY(80));
    m_sub->setGeometry(moved);
    const ui::Placement normal{40, 24, 160, 80, false, false};
    EXPECT_TRUE(waitUntil([&] { return samePlacement(m_window->model().placement(), normal); }));

    m_sub->showMaximized();
    EXPECT_TRUE(waitUntil([&] {
        return samePlacement(m_window->model().placement(), {40, 24, 160, 80, false, true});
    }));
    m_sub->showMinimized();
    EXPECT_TRUE(waitUntil([&] { return m_window->model().placement().minimized; }));
    EXPECT_EQ(m_window->model().placement().width, 160);
}

TEST_F(PlacementTest, ClosingBySubwindowAsksTheToolAndTheSubwindowGoesWhenItHasClosed) {
    QMdiArea* area = m_frontEnd.mainWindow().mdiArea();
    ASSERT_EQ(area->subWindowList().size(), 1);
    m_sub->close();
    EXPECT_TRUE(waitUntil([&] { return m_window->isClosed(); }));
    EXPECT_TRUE(waitUntil([&] { return area->subWindowList().isEmpty(); }));
    EXPECT_EQ(m_frontEnd.subWindow(*m_window), nullptr);
}

TEST_F(PlacementTest, ArrangeIconsLinesUpMinimisedWindowsAlongTheBottom) {
    auto second = open(std::make_unique<TestWindow>("Second", entryWindow("Second")));
    auto* other = m_frontEnd.subWindow(*second);
    m_sub->showMinimized();
    other->showMinimized();
    m_sub->move(50, 10);
    other->move(50, 10);
    m_frontEnd.mainWindow().standardAction(ui::StandardAction::ArrangeIcons);
    const int bottom = m_frontEnd.mainWindow().mdiArea()->viewport()->height();
    EXPECT_EQ(m_sub->geometry().bottom() + 1, bottom);
    EXPECT_EQ(other->geometry().bottom() + 1, bottom);
    EXPECT_FALSE(m_sub->geometry().intersects(other->geometry()));
}

TEST_F(PlacementTest, EditActionsWorkOnTheFocusedFieldAndPastingReachesTheModel) {
    auto* entry = qobject_cast<QLineEdit*>(m_sub->form()->controlWidget(1));
    ASSERT_NE(entry, nullptr);
    QApplication::clipboard()->setText("10.0.0.1");
    m_frontEnd.mainWindow().activateWindow();
    entry->setFocus();
    ASSERT_TRUE(waitUntil([&] { return QApplication::focusWidget() == entry; }));
    m_frontEnd.mainWindow().standardAction(ui::StandardAction::Paste);
    EXPECT_EQ(entry->text(), "10.0.0.1");
    EXPECT_EQ(m_window->model().value(1), "10.0.0.1");
    entry->setSelection(0, 2);
    m_frontEnd.mainWindow().standardAction(ui::StandardAction::Cut);
    EXPECT_EQ(QApplication::clipboard()->text(), "10");
    EXPECT_EQ(m_window->model().value(1), ".0.0.1");
}

} // namespace
} // namespace uiqt

namespace uiqt {
namespace {

// A window whose definition is far too small for its wide entry.
ui::WindowDefinition crampedWindow(const char* caption) {
    ui::WindowDefinition d = entryWindow(caption);
    d.controls[0].chars = 60;
    d.width = 20;
    d.height = 10;
    return d;
}

class FirstOpenTest : public QtDesktopTest {};

} // namespace

TEST_F(FirstOpenTest, NewWindowsShowAllTheirControlsAndDoNotCoverEachOther) {
    auto first = open(std::make_unique<TestWindow>("First", crampedWindow("First")));
    auto second = open(std::make_unique<TestWindow>("Second", crampedWindow("Second")));
    ui::ToolSubWindow* a = m_frontEnd.subWindow(*first);
    ui::ToolSubWindow* b = m_frontEnd.subWindow(*second);
    ASSERT_TRUE(a && b);
    EXPECT_GE(a->width(), a->sizeHint().width());
    EXPECT_GE(a->height(), a->sizeHint().height());
    EXPECT_FALSE(a->geometry().intersects(b->geometry())); // side by side
    // What the window really is goes to the model, to be saved when it closes.
    EXPECT_TRUE(waitUntil([&] { return first->model().placement().width > 20; }));
}

} // namespace uiqt
