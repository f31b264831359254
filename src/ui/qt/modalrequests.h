#pragma once
#include "ui/messagebox.h"

#include <QObject>
#include <QPointer>
#include <future>
#include <map>
#include <memory>

class QMenu;
class QMessageBox;
class QWidget;

namespace ui {

// Message boxes and popup menus asked for by tool threads, shown on the GUI
// thread without a nested event loop: the asking thread waits on its promise,
// the GUI goes on. A box blocks only the window that asked, so the other tools
// stay usable, as an owned message box does.
class ModalRequests : public QObject {
    Q_OBJECT
public:
    explicit ModalRequests(QObject* parent = nullptr);
    ~ModalRequests() override;

    // `owner` is the main window the box belongs to; `blocked` the part of it the
    // box is modal for (null: the whole main window).
    void showBox(QWidget* owner, QWidget* blocked, const BoxRequest& request,
                 std::shared_ptr<std::promise<int>> answer);
    void showPopup(QWidget* owner, const std::string& items,
                   std::shared_ptr<std::promise<int>> answer);
    // The program is ending: every waiting thread gets its default answer.
    void answerAll();

    static int defaultAnswer(BoxButtons buttons) { return boxAnswers(buttons).front(); }

private:
    struct Pending {
        std::shared_ptr<std::promise<int>> answer;
        int fallback = 0;
        QPointer<QWidget> blocked;
        QPointer<QWidget> focus; // where the person was working when the box came
    };
    static void restoreFocus(QWidget* focus);
    void finish(QObject* request, int answer);

    std::map<QObject*, Pending> m_pending;
};

} // namespace ui
