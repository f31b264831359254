#pragma once
#include "ui/definition.h"
#include "ui/qt/dialogunits.h"
#include "ui/qt/queuedchange.h"

#include <QWidget>
#include <map>
#include <memory>
#include <utility>
#include <vector>

class QAbstractButton;
class QAbstractItemView;
class QGridLayout;

namespace ui {

class RowTableModel;
class ToolWindow;

// The controls of one tool window, built from its definition and laid out on a
// grid. What the person does goes to the model and the tool; what the tool writes
// comes back as changes.
class FormWidget : public QWidget {
    Q_OBJECT
public:
    explicit FormWidget(std::shared_ptr<ToolWindow> window, QWidget* parent = nullptr);
    ~FormWidget() override;

    // A change to a control (field, enabled, checked, list, heading, focus).
    void applyControlChange(const QueuedChange& change);
    void appendRows(int control, std::vector<Row> rows);
    // Whether a display field widened for its text since the last call.
    bool takeWidened() { return std::exchange(m_widened, false); }
    // The window is busy filling itself: its lists stay where they are.
    void setBusy(bool busy);

    QWidget* controlWidget(int number) const;
    // Where the focus goes when the window opens: its first entry.
    QWidget* firstEntry() const;
    const DialogUnits& units() const { return m_units; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Control {
        const ControlDef* def = nullptr;
        QWidget* widget = nullptr;
        RowTableModel* rows = nullptr; // lists only
    };

    QWidget* makeControl(const ControlDef& def);
    QWidget* makeList(const ControlDef& def, Control& control);
    void connectInput(const ControlDef& def, QWidget* widget);
    void layoutControls(QGridLayout* grid);
    void setField(const Control& control, const std::string& text);
    void chooseRadio(int number);
    void press(int number);
    static bool spansWidth(ControlKind kind);

    std::shared_ptr<ToolWindow> m_window;
    DialogUnits m_units;
    std::map<int, Control> m_controls;
    std::vector<int> m_order; // control numbers in definition order
    QAbstractButton* m_defaultButton = nullptr;
    bool m_widened = false;
    int m_updating = 0; // >0 while the model's own changes are being shown
};

} // namespace ui
