#pragma once
#include "ui/messagebox.h"

#include <QObject>
#include <QPointer>
#include <future>
#include <map>
#include <memory>
#include <string>

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
    // A directory picker: on OK `chosen` holds the directory, ending in "/", and
    // the answer is IDOK; otherwise IDCANCEL.
    void showDirectory(QWidget* owner, QWidget* blocked, const std::string& title,
                       const std::string& start, std::shared_ptr<std::string> chosen,
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
    // Where the focus is when a request comes (let go of when it is inside the
    // part the request blocks), and putting it back once it is answered.
    static QWidget* takeFocus(QWidget* blocked);
    static void restoreFocus(QWidget* focus);
    void finish(QObject* request, int answer);

    std::map<QObject*, Pending> m_pending;
};

} // namespace ui
