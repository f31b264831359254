#include "qtsupport.h"

#include "ui/qt/formwidget.h"

#include <QButtonGroup>
#include <QChartView>
#include <QXYSeries>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTreeView>

namespace uiqt {
namespace {

enum {
    Prompt = 1, Entry, Button, Check, RadioA, RadioB, Spin, List, Group, Text, Picture, Display,
    Chart
};

ui::ControlDef control(int number, ui::ControlKind kind, const char* label = "") {
    ui::ControlDef c;
    c.number = number;
    c.kind = kind;
    c.label = label;
    return c;
}

// One control of each kind, in their documented order.
ui::WindowDefinition formDefinition() {
    using K = ui::ControlKind;
    ui::WindowDefinition d;
    d.caption = "Every control";
    auto prompt = control(Prompt, K::Prompt, "&Port:");
    auto entry = control(Entry, K::Entry);
    entry.chars = 5;
    entry.picture = "99999";
    entry.value = "80";
    entry.toolTip = "Port number";
    auto button = control(Button, K::Button, "&Go ");
    button.defaultButton = true;
    auto check = control(Check, K::CheckBox, "Ignore &local");
    check.value = "1";
    auto radioA = control(RadioA, K::Radio, "Tcp");
    radioA.value = "1";
    auto radioB = control(RadioB, K::Radio, "Udp");
    auto spin = control(Spin, K::SpinBox);
    spin.minimum = 1;
    spin.maximum = 99;
    spin.value = "7";
    auto list = control(List, K::List);
    list.columns = {{30, "", 10}, {160, "", 40}};
    auto group = control(Group, K::Group, "Options");
    auto text = control(Text, K::TextBox);
    text.value = "GET / HTTP/1.0\r\n";
    auto picture = control(Picture, K::Picture);
    auto display = control(Display, K::Display);
    display.value = "idle";
    display.enabled = false;
    d.controls = {prompt, entry, button, check,   radioA,  radioB,
                  spin,   list,  group,  text,  picture, display, control(Chart, K::Chart, "Latency")};
    return d;
}

// Records the Field and Checked changes that reach the model, with their origin.
class ChangeLog : public ui::ModelObserver {
public:
    void modelChanged(const ui::Change& c) override {
        std::lock_guard lock(m_mutex);
        m_changes.push_back(c);
    }
    std::vector<ui::Change> changes() const {
        std::lock_guard lock(m_mutex);
        return m_changes;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<ui::Change> m_changes;
};

class FormTest : public QtDesktopTest {
protected:
    void SetUp() override {
        m_window = open(std::make_unique<TestWindow>("Form", formDefinition()));
        ASSERT_TRUE(m_window);
        m_form = m_frontEnd.subWindow(*m_window)->form();
        m_window->model().addObserver(&m_log);
    }
    void TearDown() override { m_window->model().removeObserver(&m_log); }

    template <typename T> T* widget(int number) {
        T* w = qobject_cast<T*>(m_form->controlWidget(number));
        EXPECT_NE(w, nullptr) << "control " << number;
        return w;
    }

    std::shared_ptr<TestWindow> m_window;
    ui::FormWidget* m_form = nullptr;
    ChangeLog m_log;
};

TEST_F(FormTest, ControlsAreBuiltByKindInOrderWithTheirStates) {
    EXPECT_EQ(m_frontEnd.subWindow(*m_window)->windowTitle(), "Every control");
    auto* prompt = widget<QLabel>(Prompt);
    auto* entry = widget<QLineEdit>(Entry);
    EXPECT_EQ(prompt->buddy(), entry);
    EXPECT_EQ(entry->text(), "80");
    EXPECT_EQ(entry->maxLength(), 5);
    EXPECT_EQ(entry->toolTip(), "Port number");
    auto* button = widget<QPushButton>(Button);
    EXPECT_EQ(button->text(), "&Go ");
    EXPECT_TRUE(button->isDefault());
    EXPECT_TRUE(widget<QCheckBox>(Check)->isChecked());
    auto* radioA = widget<QRadioButton>(RadioA);
    auto* radioB = widget<QRadioButton>(RadioB);
    EXPECT_TRUE(radioA->isChecked());
    EXPECT_FALSE(radioB->isChecked());
    ASSERT_NE(radioA->group(), nullptr);
    EXPECT_EQ(radioA->group(), radioB->group());
    auto* spin = widget<QSpinBox>(Spin);
    EXPECT_EQ(spin->value(), 7);
    EXPECT_EQ(spin->maximum(), 99);
    auto* list = widget<QTreeView>(List);
    EXPECT_TRUE(list->header()->isHidden()); // no headings declared
    EXPECT_EQ(list->model()->columnCount(), 2);
    // At least its dialog units, and at least its ten characters.
    EXPECT_GE(list->columnWidth(0), m_form->units().toPixelsX(30));
    EXPECT_GE(list->columnWidth(0), list->fontMetrics().horizontalAdvance(QString(10, '0')));
    EXPECT_EQ(widget<QGroupBox>(Group)->title(), "Options");
    EXPECT_EQ(widget<QPlainTextEdit>(Text)->toPlainText(), "GET / HTTP/1.0\n");
    widget<QLabel>(Picture);
    auto* display = widget<QLineEdit>(Display);
    EXPECT_TRUE(display->isReadOnly());
    EXPECT_FALSE(display->isEnabled());

    // Controls without a row go one below the other, in their order; a list
    // spans the whole width.
    int lastTop = -1;
    for (int n = Prompt; n <= Display; ++n) {
        if (n == Group) continue; // a frame drawn behind the controls
        const int top = m_form->controlWidget(n)->geometry().top();
        EXPECT_GT(top, lastTop) << "control " << n;
        lastTop = top;
    }
}

TEST_F(FormTest, TypingReachesTheModelAsThePersonsAndDigitFieldsTakeDigitsOnly) {
    auto* entry = widget<QLineEdit>(Entry);
    entry->selectAll();
    typeText(entry, "8a1");
    EXPECT_EQ(entry->text(), "81");
    EXPECT_EQ(m_window->model().value(Entry), "81");
    const auto changes = m_log.changes();
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes.back().kind, ui::Change::Kind::Field);
    EXPECT_TRUE(changes.back().byUser);

    auto* text = widget<QPlainTextEdit>(Text);
    text->clear();
    typeText(text, "a");
    pressKey(text, Qt::Key_Return);
    typeText(text, "b");
    EXPECT_EQ(m_window->model().value(Text), "a\r\nb"); // lines end as a Windows edit ends them
}

TEST_F(FormTest, PressesReachTheToolInOrder) {
    widget<QPushButton>(Button)->click();
    pressKey(widget<QLineEdit>(Entry), Qt::Key_Return);
    widget<QCheckBox>(Check)->click();
    widget<QRadioButton>(RadioB)->click();
    pressKey(m_form, Qt::Key_Return); // Enter outside an entry: the default button
    ASSERT_TRUE(waitUntil([&] { return m_window->controls().size() == 6; }));
    // Enter in the entry completes it, then presses the default button, as in a
    // dialog.
    EXPECT_EQ(m_window->controls(),
              (std::vector<int>{Button, Entry, Button, Check, RadioB, Button}));
    EXPECT_FALSE(m_window->model().checked(Check));
    EXPECT_TRUE(m_window->model().checked(RadioB));
    EXPECT_FALSE(m_window->model().checked(RadioA));
}

TEST_F(FormTest, TheToolsChangesReachTheWidgets) {
    onToolThread(*m_window, [this] {
        ui::WindowModel& m = m_window->model();
        m.setCaption("Caption \x9A"); // 0x9A: small s with caron
        m.setValue(Entry, "443");
        m.setValue(Display, "busy");
        m.setValue(Button, "Stop");
        m.setEnabled(Button, false);
        m.setChecked(Check, false);
        m.setChecked(RadioA, false);
        m.setChecked(RadioB, true);
        m.setValue(Spin, "12");
        m.setValue(Text, "one\r\ntwo");
        m.setHeading(List, 2, "Description");
        m.setFocus(Entry);
        m.appendRow(List, {"1", "old"});
        m.setRow(List, 0, {"1", "new"});
        m.addSample(Chart, {1, 1.8e9, 2.5f, false}, "Hop 1");
        m.addSample(Chart, {2, 1.8e9, 0, true}, "Hop 2");
    });
    auto* sub = m_frontEnd.subWindow(*m_window);
    ASSERT_TRUE(waitUntil([&] { return sub->windowTitle() == QString::fromUtf8("Caption \u0161"); }));
    EXPECT_EQ(widget<QLineEdit>(Entry)->text(), "443");
    EXPECT_EQ(widget<QLineEdit>(Display)->text(), "busy");
    EXPECT_EQ(widget<QPushButton>(Button)->text(), "Stop");
    EXPECT_FALSE(widget<QPushButton>(Button)->isEnabled());
    EXPECT_FALSE(widget<QCheckBox>(Check)->isChecked());
    EXPECT_FALSE(widget<QRadioButton>(RadioA)->isChecked());
    EXPECT_TRUE(widget<QRadioButton>(RadioB)->isChecked());
    EXPECT_EQ(widget<QSpinBox>(Spin)->value(), 12);
    EXPECT_EQ(widget<QPlainTextEdit>(Text)->toPlainText(), "one\ntwo");
    auto* list = widget<QTreeView>(List);
    EXPECT_FALSE(list->header()->isHidden());
    EXPECT_EQ(list->model()->headerData(1, Qt::Horizontal).toString(), "Description");
    EXPECT_EQ(list->model()->index(0, 1).data().toString(), "new");
    // A line for the series that has a value; the lost sample a mark of the "lost" series.
    const auto series = widget<QChartView>(Chart)->chart()->series();
    ASSERT_EQ(series.size(), 2);
    EXPECT_EQ(static_cast<QXYSeries*>(series[0])->count(), 1);
    EXPECT_EQ(series[1]->name(), "Hop 1");
    // Showing the tool's values is not the person typing: nothing went back.
    for (const ui::Change& c : m_log.changes()) EXPECT_FALSE(c.byUser);
}

} // namespace
} // namespace uiqt
