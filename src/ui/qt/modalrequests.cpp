#include "ui/qt/modalrequests.h"

#include "ui/qt/textedge.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QFileDialog>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

namespace ui {
namespace {

QMessageBox::Icon iconFor(BoxIcon icon) {
    switch (icon) {
    case BoxIcon::Asterisk:
        return QMessageBox::Information;
    case BoxIcon::Exclamation:
        return QMessageBox::Warning;
    case BoxIcon::Hand:
        return QMessageBox::Critical;
    case BoxIcon::Question:
        return QMessageBox::Question;
    case BoxIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton buttonFor(int answer) {
    switch (answer) {
    case IDOK:
        return QMessageBox::Ok;
    case IDCANCEL:
        return QMessageBox::Cancel;
    case IDABORT:
        return QMessageBox::Abort;
    case IDRETRY:
        return QMessageBox::Retry;
    case IDIGNORE:
        return QMessageBox::Ignore;
    case IDYES:
        return QMessageBox::Yes;
    case IDNO:
        return QMessageBox::No;
    }
    return QMessageBox::NoButton;
}

int answerFor(QMessageBox::StandardButton button) {
    switch (button) {
    case QMessageBox::Ok:
        return IDOK;
    case QMessageBox::Cancel:
        return IDCANCEL;
    case QMessageBox::Abort:
        return IDABORT;
    case QMessageBox::Retry:
        return IDRETRY;
    case QMessageBox::Ignore:
        return IDIGNORE;
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    default:
        return 0;
    }
}

void keep(const std::shared_ptr<std::promise<int>>& promise, int value) {
    try {
        promise->set_value(value);
    } catch (const std::future_error&) {
        // Already answered.
    }
}

} // namespace

ModalRequests::ModalRequests(QObject* parent) : QObject(parent) {}

ModalRequests::~ModalRequests() {
    answerAll();
}

void ModalRequests::showBox(QWidget* owner, QWidget* blocked, const BoxRequest& request,
                            std::shared_ptr<std::promise<int>> answer) {
    QString text = textedge::toQt(request.text);
    text.replace(QLatin1Char('|'), QLatin1Char('\n'));
    auto* box = new QMessageBox(iconFor(request.icon), textedge::toQt(request.caption), text,
                                QMessageBox::NoButton, owner);
    const std::vector<int> answers = boxAnswers(request.buttons);
    for (int a : answers)
        box->addButton(buttonFor(a));
    box->setDefaultButton(buttonFor(answers.front()));
    box->setAttribute(Qt::WA_DeleteOnClose);

    // Closing the box without a button gives Cancel where there is one, else the
    // first button, as a box with a single OK gives OK.
    int fallback = answers.front();
    for (int a : answers)
        if (a == IDCANCEL) fallback = IDCANCEL;
    m_pending[box] = Pending{std::move(answer), fallback, blocked, takeFocus(blocked)};

    connect(box, &QMessageBox::finished, this,
            [this, box] { finish(box, answerFor(box->standardButton(box->clickedButton()))); });
    if (blocked) {
        // Modal for one subwindow only: Qt's window modality would take the whole
        // main window, so the subwindow's form is disabled while the box is open.
        blocked->setEnabled(false);
        box->setWindowModality(Qt::NonModal);
        box->show();
    } else {
        box->open(); // window-modal for the main window
    }
}

void ModalRequests::showPopup(QWidget* owner, const std::string& items,
                              std::shared_ptr<std::promise<int>> answer) {
    auto* menu = new QMenu(owner);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    int number = 0;
    for (const std::string& entry : popupEntries(items)) {
        if (entry == "-") {
            menu->addSeparator();
            continue;
        }
        QAction* a = menu->addAction(textedge::toQt(entry));
        a->setData(++number); // separators are not counted
    }
    m_pending[menu] = Pending{std::move(answer), 0, {}, {}};
    connect(menu, &QMenu::triggered, this, [this, menu](QAction* a) {
        finish(menu, a->data().toInt());
        menu->close();
    });
    connect(menu, &QMenu::aboutToHide, this, [this, menu] {
        // A choice is reported after the menu hides; a dismissal never is, so the
        // answer 0 waits until any choice had its turn.
        QTimer::singleShot(0, this, [this, menu] { finish(menu, 0); });
    });
    menu->popup(QCursor::pos());
}

void ModalRequests::showDirectory(QWidget* owner, QWidget* blocked, const std::string& title,
                                  const std::string& start, std::shared_ptr<std::string> chosen,
                                  std::shared_ptr<std::promise<int>> answer) {
    auto* dialog = new QFileDialog(owner, textedge::toQt(title), textedge::toQt(start));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    m_pending[dialog] = Pending{std::move(answer), IDCANCEL, blocked, takeFocus(blocked)};
    connect(dialog, &QFileDialog::finished, this, [this, dialog, chosen](int result) {
        const QStringList files = dialog->selectedFiles();
        const bool accepted = result == QDialog::Accepted && !files.isEmpty();
        if (accepted) {
            // The served name is the directory followed directly by the path.
            *chosen = textedge::fromQt(files.front());
            if (!chosen->ends_with('/')) *chosen += '/';
        }
        finish(dialog, accepted ? IDOK : IDCANCEL);
    });
    if (blocked) {
        blocked->setEnabled(false);
        dialog->setWindowModality(Qt::NonModal);
        dialog->show();
    } else {
        dialog->open();
    }
}

void ModalRequests::finish(QObject* request, int answer) {
    auto it = m_pending.find(request);
    if (it == m_pending.end()) return;
    keep(it->second.answer, answer ? answer : it->second.fallback);
    if (it->second.blocked) it->second.blocked->setEnabled(true);
    const QPointer<QWidget> focus = it->second.focus;
    m_pending.erase(it);
    restoreFocus(focus);
}

QWidget* ModalRequests::takeFocus(QWidget* blocked) {
    // The focus goes back where it was once the request is answered, whichever
    // window asked. Disabling the asking window while it holds the focus would
    // hand the focus (and the front) to some other window: it lets go first.
    QWidget* focus = QApplication::focusWidget();
    if (blocked && focus && blocked->isAncestorOf(focus)) focus->clearFocus();
    return focus;
}

void ModalRequests::restoreFocus(QWidget* focus) {
    if (!focus || !focus->isVisible() || !focus->isEnabled()) return;
    for (QWidget* w = focus; w; w = w->parentWidget())
        if (auto* sub = qobject_cast<QMdiSubWindow*>(w)) {
            if (QMdiArea* area = sub->mdiArea()) area->setActiveSubWindow(sub);
            break;
        }
    // The box has gone; its owner comes back as the active window, whatever the
    // window manager would do on its own.
    focus->activateWindow();
    focus->setFocus(Qt::OtherFocusReason);
}

void ModalRequests::answerAll() {
    auto pending = std::move(m_pending);
    m_pending.clear();
    for (auto& [request, p] : pending) {
        keep(p.answer, p.fallback);
        if (p.blocked) p.blocked->setEnabled(true);
    }
}

} // namespace ui
