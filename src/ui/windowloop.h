#pragma once
#include "ui/toolwindow.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace win {
class PollGroup;
}

namespace ui {

// The QObject that lives on a window's thread: it works through the window's queue
// when woken, owns the window's timer, and watches the window's sockets (its poll
// group) so their notifications are found on this thread.
class WindowLoop : public QObject {
public:
    // Made on the window's thread.
    explicit WindowLoop(ToolWindow& window);
    ~WindowLoop() override;
    // From any thread: the window's queue has something for the loop.
    void wake();
    void setTimer(int hundredths);
    // On the loop's thread: `fn` runs there after `milliseconds`, unless the window
    // is closing; dropped with the loop.
    void callAfter(int milliseconds, std::function<void()> fn);
    // Null when no epoll set could be made; the process-wide poller serves then.
    win::PollGroup* pollGroup() const;

protected:
    bool event(QEvent* event) override;

private:
    void socketsReady();

    ToolWindow& m_window;
    QTimer m_timer;
    std::unique_ptr<win::PollGroup> m_group;
    // Declared after the group: it stops watching before the group's set closes.
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace ui
