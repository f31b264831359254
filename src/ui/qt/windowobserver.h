#pragma once
#include "ui/qt/queuedchange.h"
#include "ui/windowmodel.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>


namespace ui {

class GuiQueue;
class ToolWindow;
class WindowView;

// Carries one window's model changes from the threads that make them to the GUI
// thread. Changes pile up in a queue and one queued call drains it, so a tool
// writing thousands of rows in a burst costs the GUI a handful of events, not
// thousands, and the rows arrive in batches the list can take at once.
class WindowObserver : public ModelObserver, public std::enable_shared_from_this<WindowObserver> {
public:
    WindowObserver(ToolWindow& window, GuiQueue* gui, std::atomic<int>& flushCounter);

    // On the window's thread, before the observer is added to the model: the
    // model's present state as changes, so the new view starts where the model is.
    void seedFromModel();

    void modelChanged(const Change& change) override;

    // GUI thread only.
    void setView(WindowView* view) { m_view = view; }
    void flush();

private:
    void queue(QueuedChange change);

    ToolWindow& m_window;
    GuiQueue* m_gui; // lives on the GUI thread, longer than any window
    std::atomic<int>& m_flushCounter;
    WindowView* m_view = nullptr;

    std::mutex m_mutex; // guards the queue and the flag
    std::vector<QueuedChange> m_pending;
    std::map<int, std::size_t> m_pendingFields; // control -> its Field change in m_pending
    bool m_flushPosted = false;
};

} // namespace ui
