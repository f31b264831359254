#include "ui/qt/formwidget.h"

#include "platform/text.h"
#include "ui/qt/chartview.h"
#include "ui/qt/listview.h"
#include "ui/qt/rowtablemodel.h"
#include "ui/qt/textedge.h"
#include "ui/toolwindow.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QTreeView>
#include <algorithm>
#include <set>

namespace ui {
namespace {

// A picture made only of '9's takes digits only, one per position.
bool digitsOnly(const std::string& picture) {
    return !picture.empty() && picture.find_first_not_of('9') == std::string::npos;
}

// A static text shows "&" as the underline of the next letter and "&&" as one
// ampersand; a label without a buddy would show the sign itself.
QString withoutMnemonic(const std::string& label) {
    return textedge::toQt(plainLabel(label));
}

// Multi-line text is kept with CR LF, as a Windows edit control hands it over.
QString fromCrLf(const std::string& text) {
    return textedge::toQt(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

std::string toCrLf(const QString& text) {
    QString copy = text;
    return textedge::fromQt(copy.replace(QLatin1Char('\n'), QStringLiteral("\r\n")));
}

} // namespace

FormWidget::FormWidget(std::shared_ptr<ToolWindow> window, QWidget* parent)
    : QWidget(parent), m_window(std::move(window)), m_units(font()) {
    const WindowDefinition& def = m_window->definition();
    QButtonGroup* radios = nullptr;
    for (const ControlDef& c : def.controls) {
        QWidget* w = makeControl(c);
        if (!w) continue;
        if (c.kind == ControlKind::Radio) {
            // Consecutive options form one group, whatever lies around them.
            if (!radios) radios = new QButtonGroup(this);
            radios->addButton(static_cast<QAbstractButton*>(w));
        } else {
            radios = nullptr;
        }
        if (!c.toolTip.empty()) w->setToolTip(textedge::toQt(c.toolTip));
        w->setEnabled(c.enabled);
        m_controls[c.number].def = &c;
        m_controls[c.number].widget = w;
        m_order.push_back(c.number);
        connectInput(c, w);
    }
    // A prompt standing before a field lends the field its access key.
    for (std::size_t i = 0; i + 1 < m_order.size(); ++i) {
        const Control& prompt = m_controls[m_order[i]];
        const Control& next = m_controls[m_order[i + 1]];
        if (prompt.def->kind != ControlKind::Prompt) continue;
        const ControlKind k = next.def->kind;
        if (k == ControlKind::Entry || k == ControlKind::SpinBox || k == ControlKind::TextBox ||
            k == ControlKind::List) {
            auto* label = static_cast<QLabel*>(prompt.widget);
            label->setText(textedge::toQt(prompt.def->label));
            label->setBuddy(next.widget);
        }
    }
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(m_units.toPixelsX(4), m_units.toPixelsY(4), m_units.toPixelsX(4),
                             m_units.toPixelsY(4));
    grid->setHorizontalSpacing(m_units.toPixelsX(4));
    grid->setVerticalSpacing(m_units.toPixelsY(2));
    layoutControls(grid);
}

FormWidget::~FormWidget() = default;

bool FormWidget::spansWidth(ControlKind kind) {
    return kind == ControlKind::List || kind == ControlKind::TextBox || kind == ControlKind::Chart;
}

QWidget* FormWidget::makeControl(const ControlDef& c) {
    const QString label = textedge::toQt(c.label);
    switch (c.kind) {
    case ControlKind::Prompt:
        return new QLabel(withoutMnemonic(c.label), this);
    case ControlKind::Entry:
    case ControlKind::Display: {
        auto* edit = new QLineEdit(textedge::toQt(c.value), this);
        if (c.chars > 0) {
            edit->setMaxLength(c.chars);
            // Short fields show all their characters; long ones may be narrowed
            // by a small window and scroll.
            edit->setMinimumWidth(m_units.charsWidth(std::min(c.chars, 12)) + m_units.toPixelsX(8));
        }
        if (c.kind == ControlKind::Display) {
            edit->setReadOnly(true);
            edit->setFocusPolicy(Qt::NoFocus);
        } else if (digitsOnly(c.picture)) {
            edit->setValidator(new QRegularExpressionValidator(
                QRegularExpression(QStringLiteral("[0-9]*")), edit));
        }
        return edit;
    }
    case ControlKind::Button: {
        auto* button = new QPushButton(label, this);
        if (c.defaultButton) {
            button->setDefault(true);
            m_defaultButton = button;
        }
        return button;
    }
    case ControlKind::CheckBox:
        return new QCheckBox(label, this);
    case ControlKind::Radio:
        return new QRadioButton(label, this);
    case ControlKind::SpinBox: {
        auto* spin = new QSpinBox(this);
        spin->setRange(c.minimum, c.maximum);
        spin->setValue(static_cast<int>(text::leadingDecimal(c.value)));
        return spin;
    }
    case ControlKind::List:
        return makeList(c, m_controls[c.number]);
    case ControlKind::Group:
        return new QGroupBox(label, this);
    case ControlKind::TextBox:
        return new QPlainTextEdit(fromCrLf(c.value), this);
    case ControlKind::Chart:
        return new ChartView(c, this);
    case ControlKind::Picture: {
        auto* picture = new QLabel(this);
        picture->setAlignment(Qt::AlignCenter);
        if (!c.picture.empty() && QFile::exists(textedge::toQt(c.picture)))
            picture->setPixmap(QPixmap(textedge::toQt(c.picture)));
        return picture;
    }
    }
    return nullptr;
}

QWidget* FormWidget::makeList(const ControlDef& c, Control& control) {
    auto* view = new ListView(c.columns, m_units, this);
    control.rows = view->rows();
    // The columns keep their widths; a narrow window scrolls the list sideways.
    view->setMinimumSize(m_units.toPixelsX(60), m_units.toPixelsY(40));
    return view;
}

void FormWidget::connectInput(const ControlDef& c, QWidget* w) {
    const int n = c.number;
    switch (c.kind) {
    case ControlKind::Entry: {
        auto* edit = static_cast<QLineEdit*>(w);
        connect(edit, &QLineEdit::textEdited, this, [this, n](const QString& text) {
            m_window->model().setValue(n, textedge::fromQt(text), true);
        });
        // Enter completes the entry; it is taken here so that it does not go on
        // to press the default button as well.
        edit->setProperty("controlNumber", n);
        edit->installEventFilter(this);
        break;
    }
    case ControlKind::Button:
        connect(static_cast<QPushButton*>(w), &QPushButton::clicked, this, [this, n] { press(n); });
        break;
    case ControlKind::CheckBox:
        connect(static_cast<QCheckBox*>(w), &QCheckBox::clicked, this, [this, n](bool on) {
            m_window->model().setChecked(n, on, true);
            press(n);
        });
        break;
    case ControlKind::Radio:
        connect(static_cast<QRadioButton*>(w), &QRadioButton::clicked, this,
                [this, n] { chooseRadio(n); });
        break;
    case ControlKind::SpinBox:
        connect(static_cast<QSpinBox*>(w), &QSpinBox::valueChanged, this, [this, n](int value) {
            if (m_updating == 0) m_window->model().setValue(n, std::to_string(value), true);
        });
        break;
    case ControlKind::TextBox: {
        auto* edit = static_cast<QPlainTextEdit*>(w);
        connect(edit, &QPlainTextEdit::textChanged, this, [this, n, edit] {
            if (m_updating == 0) m_window->model().setValue(n, toCrLf(edit->toPlainText()), true);
        });
        break;
    }
    default:
        break;
    }
}

void FormWidget::layoutControls(QGridLayout* grid) {
    int columns = 1;
    for (int n : m_order) {
        const LayoutHint& h = m_controls[n].def->layout;
        columns = std::max(columns, h.column + std::max(h.columnSpan, 1));
    }
    // The cells each control takes, and those that fields, buttons and prompts
    // stand in.
    struct Cells {
        const Control* control;
        int row, column, rowSpan, columnSpan;
    };
    std::vector<Cells> placed;
    std::set<int> busyRows, busyColumns;
    int nextRow = 0;
    for (int n : m_order) {
        const Control& c = m_controls[n];
        const LayoutHint& h = c.def->layout;
        int row = h.row, column = h.column, columnSpan = std::max(h.columnSpan, 1);
        const int rowSpan = std::max(h.rowSpan, 1);
        if (row < 0) {
            row = nextRow;
            if (spansWidth(c.def->kind)) {
                column = 0;
                columnSpan = columns + 1; // into the spare column as well
            }
        }
        grid->addWidget(c.widget, row, column, rowSpan, columnSpan);
        // Groups only frame the controls placed in their cells.
        if (c.def->kind == ControlKind::Group) c.widget->lower();
        placed.push_back({&c, row, column, rowSpan, columnSpan});
        if (!spansWidth(c.def->kind) && c.def->kind != ControlKind::Group) {
            for (int r = row; r < row + rowSpan; ++r)
                busyRows.insert(r);
            for (int k = column; k < column + columnSpan; ++k)
                busyColumns.insert(k);
        }
        nextRow = std::max(nextRow, row + rowSpan);
    }
    // Extra room, when the window is enlarged, goes to its lists and text boxes:
    // the rows and columns they span stretch, those where no field or button
    // stands first, so fields and buttons keep their own sizes.
    std::set<int> growRows, growColumns;
    auto grow = [](int first, int span, const std::set<int>& busy, std::set<int>& into) {
        std::set<int> free;
        for (int i = first; i < first + span; ++i)
            if (!busy.count(i)) free.insert(i);
        if (free.empty())
            for (int i = first; i < first + span; ++i)
                free.insert(i);
        into.insert(free.begin(), free.end());
    };
    for (const Cells& p : placed) {
        if (!spansWidth(p.control->def->kind)) continue;
        grow(p.row, p.rowSpan, busyRows, growRows);
        grow(p.column, p.columnSpan, busyColumns, growColumns);
    }
    for (int r : growRows)
        grid->setRowStretch(r, 1);
    // Without lists, the columns of long display fields take the extra width, so
    // their texts show whole; else a spare column to the right does.
    if (growColumns.empty()) {
        for (const Cells& p : placed)
            if (p.control->def->kind == ControlKind::Display && p.control->def->chars > 12)
                growColumns.insert(p.column);
        // A button in such a column keeps its own width.
        for (const Cells& p : placed)
            if (p.control->def->kind == ControlKind::Button && growColumns.count(p.column))
                grid->setAlignment(p.control->widget, Qt::AlignLeft);
    }
    if (growColumns.empty()) growColumns.insert(columns);
    for (int k : growColumns)
        grid->setColumnStretch(k, 1);
}

void FormWidget::press(int number) {
    // The tool runs on its own thread; the press reaches it as an event.
    m_window->postControl(number);
}

void FormWidget::chooseRadio(int number) {
    // The button group has already moved the dot; the model follows, the option
    // that lost it first, as the framework orders a group change.
    auto it = std::find(m_order.begin(), m_order.end(), number);
    if (it == m_order.end()) return;
    auto first = it, last = it;
    while (first != m_order.begin() && m_controls[*(first - 1)].def->kind == ControlKind::Radio)
        --first;
    while (last + 1 != m_order.end() && m_controls[*(last + 1)].def->kind == ControlKind::Radio)
        ++last;
    WindowModel& model = m_window->model();
    for (auto i = first; i <= last; ++i)
        if (*i != number && model.checked(*i)) model.setChecked(*i, false, true);
    model.setChecked(number, true, true);
    press(number);
}

bool FormWidget::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            const QVariant number = watched->property("controlNumber");
            if (number.isValid()) {
                // The entry is completed first, then Enter presses the button
                // that acts on this entry, else the default button, as a dialog does.
                press(number.toInt());
                QAbstractButton* button = m_defaultButton;
                if (const int own = m_controls.at(number.toInt()).def->enterButton; own != 0)
                    button = qobject_cast<QAbstractButton*>(controlWidget(own));
                if (button && button->isEnabled()) button->click();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FormWidget::keyPressEvent(QKeyEvent* event) {
    // Enter elsewhere presses the default button, as in a dialog.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && m_defaultButton && m_defaultButton->isEnabled()) {
        m_defaultButton->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

QWidget* FormWidget::controlWidget(int number) const {
    auto it = m_controls.find(number);
    return it == m_controls.end() ? nullptr : it->second.widget;
}

void FormWidget::setField(const Control& c, const std::string& text) {
    const QString value = textedge::toQt(text);
    switch (c.def->kind) {
    case ControlKind::Prompt:
        static_cast<QLabel*>(c.widget)->setText(
            static_cast<QLabel*>(c.widget)->buddy() ? value : withoutMnemonic(text));
        break;
    case ControlKind::Button:
        static_cast<QPushButton*>(c.widget)->setText(value);
        break;
    case ControlKind::Group:
        static_cast<QGroupBox*>(c.widget)->setTitle(value);
        break;
    case ControlKind::Entry:
    case ControlKind::Display: {
        auto* edit = static_cast<QLineEdit*>(c.widget);
        if (edit->text() != value) edit->setText(value);
        // A display is read, not scrolled: it is at least as wide as its text.
        const int wide = edit->fontMetrics().horizontalAdvance(value) + m_units.toPixelsX(8);
        if (c.def->kind == ControlKind::Display && wide > edit->minimumWidth()) {
            edit->setMinimumWidth(wide);
            m_widened = true;
        }
        break;
    }
    case ControlKind::SpinBox:
        static_cast<QSpinBox*>(c.widget)->setValue(static_cast<int>(text::leadingDecimal(text)));
        break;
    case ControlKind::TextBox: {
        auto* edit = static_cast<QPlainTextEdit*>(c.widget);
        const QString plain = fromCrLf(text);
        if (edit->toPlainText() != plain) edit->setPlainText(plain);
        break;
    }
    case ControlKind::Picture:
        if (!text.empty() && QFile::exists(value)) {
            // Scaled to fit the area, so a large picture does not stretch the form.
            auto* label = static_cast<QLabel*>(c.widget);
            label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
            const QSize area =
                label->width() > 1 && label->height() > 1 ? label->size() : QSize(160, 120);
            const QPixmap picture(value);
            label->setPixmap(picture.isNull() ? picture
                                              : picture.scaled(area, Qt::KeepAspectRatio,
                                                               Qt::SmoothTransformation));
        }
        break;
    // The state of boxes and options comes as Checked, rows as list changes.
    case ControlKind::CheckBox:
    case ControlKind::Radio:
    case ControlKind::List:
    case ControlKind::Chart:
        break;
    }
}

void FormWidget::applyControlChange(const QueuedChange& q) {
    auto it = m_controls.find(q.change.control);
    if (it == m_controls.end()) return;
    Control& c = it->second;
    ++m_updating;
    switch (q.change.kind) {
    case Change::Kind::Field:
        setField(c, q.change.text);
        break;
    case Change::Kind::Enabled:
        c.widget->setEnabled(q.change.flag);
        break;
    case Change::Kind::ToolTip:
        c.widget->setToolTip(
            textedge::toQt(q.change.text.empty() ? c.def->toolTip : q.change.text));
        break;
    case Change::Kind::Checked:
        if (auto* button = qobject_cast<QAbstractButton*>(c.widget)) {
            // An exclusive group will not let its last option be cleared by hand.
            if (auto* group = button->group(); group && !q.change.flag) {
                group->setExclusive(false);
                button->setChecked(false);
                group->setExclusive(true);
            } else {
                button->setChecked(q.change.flag);
            }
        }
        break;
    case Change::Kind::RowAppended:
        appendRows(c.def->number, {q.change.row});
        break;
    case Change::Kind::ListCleared:
        if (c.rows) c.rows->clear();
        if (c.def->kind == ControlKind::Chart) static_cast<ChartView*>(c.widget)->clear();
        break;
    case Change::Kind::RowChanged:
        if (c.rows) c.rows->setRow(q.change.count, q.change.row);
        break;
    case Change::Kind::Sampled:
        if (c.def->kind == ControlKind::Chart)
            static_cast<ChartView*>(c.widget)->addSample(q.change.sample, q.change.text);
        break;
    case Change::Kind::ListChanged:
        if (c.rows) c.rows->setRows(q.rows);
        break;
    case Change::Kind::RowNote:
        if (c.rows)
            c.rows->setNote(static_cast<int>(q.change.count), textedge::toQt(q.change.text));
        break;
    case Change::Kind::RowsDropped:
        if (c.rows) c.rows->dropOldest(q.change.count, q.change.row);
        break;
    case Change::Kind::Heading:
        if (c.rows) {
            c.rows->setHeading(q.change.column, textedge::toQt(q.change.text));
            static_cast<QTreeView*>(c.widget)->header()->setVisible(c.rows->hasHeadings());
        }
        break;
    case Change::Kind::Focus:
        c.widget->setFocus(Qt::OtherFocusReason);
        break;
    default:
        break;
    }
    --m_updating;
}

void FormWidget::appendRows(int control, std::vector<Row> rows) {
    auto it = m_controls.find(control);
    if (it == m_controls.end() || !it->second.rows) return;
    // The view decides whether it follows the newest row.
    static_cast<ListView*>(it->second.widget)->appendRows(std::move(rows));
}

void FormWidget::setBusy(bool busy) {
    for (auto& [number, c] : m_controls)
        if (c.rows) static_cast<ListView*>(c.widget)->setBusy(busy);
}

QWidget* FormWidget::firstEntry() const {
    // The first field that takes typing, else the first control that takes the
    // focus at all (a window of buttons and lists).
    QWidget* fallback = nullptr;
    for (int n : m_order) {
        const Control& c = m_controls.at(n);
        if (!c.widget->isEnabled() || c.widget->focusPolicy() == Qt::NoFocus) continue;
        const ControlKind k = c.def->kind;
        if (k == ControlKind::Entry || k == ControlKind::SpinBox || k == ControlKind::TextBox)
            return c.widget;
        if (!fallback && k != ControlKind::Prompt && k != ControlKind::Group &&
            k != ControlKind::Picture)
            fallback = c.widget;
    }
    return fallback;
}

} // namespace ui
