#include "qtsupport.h"

#include "ui/qt/formwidget.h"

#include <QAbstractButton>
#include <QMenu>
#include <QMessageBox>

namespace uiqt {
namespace {

QMessageBox* openBox() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) return box;
    return nullptr;
}

QMenu* openMenu() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* menu = qobject_cast<QMenu*>(w); menu && menu->isVisible()) return menu;
    return nullptr;
}

ui::WindowDefinition plainWindow(const char* caption) {
    ui::WindowDefinition d;
    d.caption = caption;
    ui::ControlDef go;
    go.number = 1;
    go.kind = ui::ControlKind::Button;
    go.label = "Go";
    d.controls = {go};
    return d;
}

struct BoxCase {
    ui::BoxButtons buttons;
    ui::BoxIcon icon;
    QMessageBox::StandardButton click;
    int answer;
    QMessageBox::Icon shown;
};

class MessageBoxTest : public QtDesktopTest, public ::testing::WithParamInterface<BoxCase> {};

TEST_P(MessageBoxTest, TheClickedButtonsAnswerReachesTheWaitingToolThread) {
    const BoxCase c = GetParam();
    auto asking = open(std::make_unique<TestWindow>("Asking", plainWindow("Asking")));
    auto other = open(std::make_unique<TestWindow>("Other", plainWindow("Other")));
    std::atomic<int> answer{-1};
    asking->invoke([&] { answer = asking->messageBox("First line|second line", "Cap", c.icon, c.buttons); });
    QMessageBox* box = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (box = openBox()) != nullptr; }));
    EXPECT_EQ(box->text(), "First line\nsecond line");
    EXPECT_EQ(box->windowTitle(), "Cap");
    EXPECT_EQ(box->icon(), c.shown);
    EXPECT_EQ(box->buttons().size(), static_cast<qsizetype>(ui::boxAnswers(c.buttons).size()));
    // Modal for the window that asked only: the other tool stays usable.
    EXPECT_FALSE(m_frontEnd.subWindow(*asking)->form()->isEnabled());
    EXPECT_TRUE(m_frontEnd.subWindow(*other)->form()->isEnabled());
    EXPECT_EQ(answer.load(), -1);
    ASSERT_NE(box->button(c.click), nullptr);
    box->button(c.click)->click();
    ASSERT_TRUE(waitUntil([&] { return answer.load() != -1; }));
    EXPECT_EQ(answer.load(), c.answer);
    EXPECT_TRUE(m_frontEnd.subWindow(*asking)->form()->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    ButtonSets, MessageBoxTest,
    ::testing::Values(
        BoxCase{ui::BoxButtons::Ok, ui::BoxIcon::Asterisk, QMessageBox::Ok, ui::IDOK, QMessageBox::Information},
        BoxCase{ui::BoxButtons::OkCancel, ui::BoxIcon::Exclamation, QMessageBox::Cancel, ui::IDCANCEL,
                QMessageBox::Warning},
        BoxCase{ui::BoxButtons::YesNoCancel, ui::BoxIcon::Question, QMessageBox::No, ui::IDNO,
                QMessageBox::Question},
        BoxCase{ui::BoxButtons::YesNo, ui::BoxIcon::None, QMessageBox::Yes, ui::IDYES, QMessageBox::NoIcon},
        BoxCase{ui::BoxButtons::RetryCancel, ui::BoxIcon::Hand, QMessageBox::Retry, ui::IDRETRY,
                QMessageBox::Critical},
        BoxCase{ui::BoxButtons::AbortRetryIgnore, ui::BoxIcon::Hand, QMessageBox::Ignore, ui::IDIGNORE,
                QMessageBox::Critical}));

class PopupMenuTest : public QtDesktopTest {
protected:
    void SetUp() override { m_window = open(std::make_unique<TestWindow>("Menu", plainWindow("Menu"))); }

    // Asks for the menu on the tool's thread and lets `act` answer it.
    int choose(const std::function<void(QMenu&)>& act) {
        std::atomic<int> chosen{-1};
        m_window->invoke([&] { chosen = m_window->popupMenu("Tcp|Udp|-|Http"); });
        QMenu* menu = nullptr;
        EXPECT_TRUE(waitUntil([&] { return (menu = openMenu()) != nullptr; }));
        if (!menu) return -2;
        act(*menu);
        EXPECT_TRUE(waitUntil([&] { return chosen.load() != -1; }));
        return chosen.load();
    }

    std::shared_ptr<TestWindow> m_window;
};

TEST_F(PopupMenuTest, EntriesAreNumberedWithoutSeparatorsAndDismissingGivesZero) {
    EXPECT_EQ(choose([](QMenu& menu) {
                  ASSERT_EQ(menu.actions().size(), 4);
                  EXPECT_TRUE(menu.actions().at(2)->isSeparator());
                  menu.actions().at(3)->trigger();
              }),
              3);
    EXPECT_EQ(choose([](QMenu& menu) { menu.actions().at(0)->trigger(); }), 1);
    EXPECT_EQ(choose([](QMenu& menu) { menu.close(); }), 0);
}

} // namespace
} // namespace uiqt
