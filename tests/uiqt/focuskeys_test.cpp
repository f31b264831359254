#include "qtsupport.h"

#include "app/mainws.h"
#include "ui/qt/formwidget.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTest>

namespace uiqt {
namespace {

enum { Go = 1, NamePrompt, NameEntry, PortEntry };

// A button first, then two entries: the focus belongs in the first entry, not on
// the first control.
ui::WindowDefinition entryWindow(const char* caption) {
    ui::WindowDefinition d;
    d.caption = caption;
    ui::ControlDef go = ui::makeControl(Go, ui::ControlKind::Button, "&Go", 0, 1);
    go.defaultButton = true;
    ui::ControlDef name = ui::makeControl(NameEntry, ui::ControlKind::Entry, "", 1, 1);
    name.chars = 20;
    ui::ControlDef port = ui::makeControl(PortEntry, ui::ControlKind::Entry, "", 2, 1);
    port.chars = 5;
    d.controls = {go, ui::makeControl(NamePrompt, ui::ControlKind::Prompt, "Name:", 1, 0), name,
                  port};
    return d;
}

QMessageBox* openBox() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) return box;
    return nullptr;
}

class FocusTest : public QtDesktopTest {
protected:
    void SetUp() override {
        m_frontEnd.mainWindow().show();
        m_frontEnd.mainWindow().activateWindow();
        ASSERT_TRUE(
            waitUntil([&] { return QApplication::activeWindow() == &m_frontEnd.mainWindow(); }));
    }
    ui::ToolSubWindow* sub(const ui::ToolWindow& w) { return m_frontEnd.subWindow(w); }
    QWidget* entry(const ui::ToolWindow& w, int number = NameEntry) {
        return sub(w)->form()->controlWidget(number);
    }
    QMdiSubWindow* active() { return m_frontEnd.mainWindow().mdiArea()->activeSubWindow(); }
};

TEST_F(FocusTest, ANewWindowIsActiveWithTheFocusInItsFirstEntry) {
    auto first = open(std::make_unique<TestWindow>("First", entryWindow("First")));
    EXPECT_TRUE(waitUntil([&] { return QApplication::focusWidget() == entry(*first); }));
    EXPECT_EQ(active(), sub(*first));
    auto second = open(std::make_unique<TestWindow>("Second", entryWindow("Second")));
    EXPECT_TRUE(waitUntil([&] { return QApplication::focusWidget() == entry(*second); }));
    EXPECT_EQ(active(), sub(*second));
    // Where the tool asks for the focus, it goes there instead.
    auto third = std::make_unique<TestWindow>("Third", entryWindow("Third"));
    third->onOpened = [](TestWindow& w) { w.model().setFocus(PortEntry); };
    auto opened = open(std::move(third));
    EXPECT_TRUE(
        waitUntil([&] { return QApplication::focusWidget() == entry(*opened, PortEntry); }));
}

// A box asked by one window, while another or the same one is where the person
// works: no window comes to the front, and afterwards the focus is back where it was.
struct BoxFocusCase {
    const char* name;
    bool askerIsActive;
};

class BoxFocus : public FocusTest, public ::testing::WithParamInterface<BoxFocusCase> {};

TEST_P(BoxFocus, GoesBackToTheWindowThatHadItAndNoOtherComesToTheFront) {
    auto lookup = open(std::make_unique<TestWindow>("DNSx", entryWindow("Lookup")));
    auto other = open(std::make_unique<TestWindow>("Other", entryWindow("Other")));
    auto middle = open(std::make_unique<TestWindow>("Middle", entryWindow("Middle")));
    ui::ToolWindow& working = GetParam().askerIsActive ? *lookup : *other;
    m_frontEnd.mainWindow().mdiArea()->setActiveSubWindow(sub(working));
    entry(working, PortEntry)->setFocus();
    ASSERT_TRUE(
        waitUntil([&] { return QApplication::focusWidget() == entry(working, PortEntry); }));

    std::atomic<int> answer{-1};
    lookup->invoke([&] { answer = lookup->messageBox("www.example.org||1.2.3.4", "Lookup"); });
    QMessageBox* box = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (box = openBox()) != nullptr; }));
    EXPECT_EQ(active(), sub(working));
    box->button(QMessageBox::Ok)->click();
    ASSERT_TRUE(waitUntil([&] { return answer.load() == ui::IDOK; }));
    EXPECT_TRUE(waitUntil([&] { return QApplication::focusWidget() == entry(working, PortEntry); }))
        << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className()
                                        : "no focus");
    EXPECT_EQ(active(), sub(working));
    EXPECT_NE(active(), sub(*middle));
    // What the person types next goes to that window.
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    QTest::keyClicks(QApplication::focusWidget(), "80");
    EXPECT_EQ(working.model().value(PortEntry), "80");
}

INSTANTIATE_TEST_SUITE_P(Askers, BoxFocus,
                         ::testing::Values(BoxFocusCase{"AnotherWindowAsks", false},
                                           BoxFocusCase{"TheActiveWindowAsks", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FocusTest, EnterCompletesTheEntryAndPressesTheDefaultButton) {
    auto w = open(std::make_unique<TestWindow>("Form", entryWindow("Form")));
    QTest::keyClick(entry(*w), Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return w->controls().size() == 2; }));
    EXPECT_EQ(w->controls(), (std::vector<int>{NameEntry, Go}));
    // Disabled, the default button is not pressed.
    onToolThread(*w, [&] { w->model().setEnabled(Go, false); });
    ASSERT_TRUE(waitUntil([&] { return !sub(*w)->form()->controlWidget(Go)->isEnabled(); }));
    QTest::keyClick(entry(*w, PortEntry), Qt::Key_Enter);
    ASSERT_TRUE(waitUntil([&] { return w->controls().size() == 3; }));
    EXPECT_EQ(w->controls().back(), PortEntry);
}

// Escape closes a box, with the answer a box closed without a button gives.
struct EscapeCase {
    ui::BoxButtons buttons;
    int answer;
};

class EscapeBox : public FocusTest, public ::testing::WithParamInterface<EscapeCase> {};

TEST_P(EscapeBox, ClosesItWithItsCancellingAnswer) {
    auto w = open(std::make_unique<TestWindow>("Asking", entryWindow("Asking")));
    std::atomic<int> answer{-1};
    const ui::BoxButtons buttons = GetParam().buttons;
    w->invoke([&] { answer = w->messageBox("Go on?", "", ui::BoxIcon::Question, buttons); });
    QMessageBox* box = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (box = openBox()) != nullptr; }));
    QTest::keyClick(box, Qt::Key_Escape);
    ASSERT_TRUE(waitUntil([&] { return answer.load() != -1; }));
    EXPECT_EQ(answer.load(), GetParam().answer);
    EXPECT_TRUE(waitUntil([] { return openBox() == nullptr; }));
}

INSTANTIATE_TEST_SUITE_P(ButtonSets, EscapeBox,
                         ::testing::Values(EscapeCase{ui::BoxButtons::Ok, ui::IDOK},
                                           EscapeCase{ui::BoxButtons::OkCancel, ui::IDCANCEL},
                                           EscapeCase{ui::BoxButtons::YesNo, ui::IDNO},
                                           EscapeCase{ui::BoxButtons::YesNoCancel, ui::IDCANCEL},
                                           EscapeCase{ui::BoxButtons::RetryCancel, ui::IDCANCEL}));

// The frame's own menu, every item answered by the frame itself (the standard
// actions too), so each access key can be seen to reach it.
ui::WindowDefinition frameWithPlainItems() {
    ui::WindowDefinition d = app::MainWS::makeDefinition();
    std::function<void(std::vector<ui::MenuItemDef>&)> plain = [&](auto& items) {
        for (auto& item : items) {
            item.action = ui::StandardAction::None;
            plain(item.items);
        }
    };
    plain(d.menu);
    return d;
}

QChar accessKey(const std::string& label) {
    const auto at = label.find('&');
    return at == std::string::npos || at + 1 >= label.size() ? QChar() : QChar(label[at + 1]);
}

TEST_F(FocusTest, EveryAccessKeyOfTheFramesMenuWorks) {
    auto frame = open(std::make_unique<TestWindow>("MainWS", frameWithPlainItems()));
    auto tool = open(std::make_unique<TestWindow>("Tool", entryWindow("Tool")));
    ui::FrameWindow& main = m_frontEnd.mainWindow();
    int keys = 0;
    std::vector<int> expected;
    for (std::size_t m = 0; m < frame->definition().menu.size(); ++m) {
        const ui::MenuItemDef& menu = frame->definition().menu[m];
        const QChar key = accessKey(menu.label);
        if (key.isNull()) continue;
        QMenu* shown = main.menuBar()->actions().at(static_cast<int>(m))->menu();
        for (const ui::MenuItemDef& item : menu.items) {
            const QChar itemKey = accessKey(item.label);
            if (itemKey.isNull() || !item.items.empty()) continue;
            // Alt and the menu's letter open it, from wherever the focus is. (The
            // offscreen platform lets a closed popup take the activation with it.)
            main.activateWindow();
            ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &main; }));
            entry(*tool)->setFocus();
            QTest::keyClick(entry(*tool), static_cast<Qt::Key>(key.toUpper().unicode()),
                            Qt::AltModifier);
            ASSERT_TRUE(waitUntil([&] { return QApplication::activePopupWidget() == shown; }))
                << menu.label;
            QTest::keyClick(shown, static_cast<Qt::Key>(itemKey.toUpper().unicode()));
            expected.push_back(item.id);
            ASSERT_TRUE(waitUntil([&] { return frame->menus() == expected; }))
                << menu.label << " " << item.label;
            ASSERT_TRUE(waitUntil([] { return QApplication::activePopupWidget() == nullptr; }));
            ++keys;
        }
    }
    EXPECT_EQ(keys, 11); // File 2, Edit 3, Window 3, Help 3
}

TEST_F(FocusTest, AButtonsAccessKeyPressesItInTheActiveWindowOnly) {
    auto first = open(std::make_unique<TestWindow>("First", entryWindow("First")));
    auto second = open(std::make_unique<TestWindow>("Second", entryWindow("Second")));
    ASSERT_TRUE(waitUntil([&] { return QApplication::focusWidget() == entry(*second); }));
    QTest::keyClick(entry(*second), Qt::Key_G, Qt::AltModifier);
    ASSERT_TRUE(waitUntil([&] { return second->controls() == std::vector<int>{Go}; }));
    EXPECT_TRUE(first->controls().empty());
}

} // namespace
} // namespace uiqt
