#pragma once
#include <QObject>

#include <deque>
#include <functional>
#include <mutex>

class QEvent;

namespace ui {

// Hands work from the tool threads to the GUI thread, in the order it was given.
// The work waits in a queue of our own under our own lock, and Qt carries only a
// bare wake-up event, as the windows' own loops do: work carried inside Qt's posted
// events would cross threads through Qt's locks, which the thread checker of our
// test build cannot see, so every hand-off would look like a race to it.
class GuiQueue : public QObject {
public:
    // Any thread. Work still waiting when the queue goes is dropped with it.
    void post(std::function<void()> work);

protected:
    bool event(QEvent* event) override;

private:
    std::mutex m_mutex; // guards the queue and the flag
    std::deque<std::function<void()>> m_work;
    bool m_wakePending = false; // a wake-up is on its way
};

} // namespace ui
