#pragma once
#include "platform/message.h"
#include "ui/definition.h"
#include "ui/messagebox.h"
#include "ui/windowmodel.h"

#include <atomic>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace win {
class BlockingThread;
}

namespace ui {

class Desktop;
class FrontEnd;
class MessageHook;
class WindowLoop;
class WindowThread;

// One tool window: a procedure name, its window (definition and model), its own
// thread and event loop, and its handlers. Handlers run on the window's thread one
// at a time; the posting methods may be called from any thread.
class ToolWindow : public win::MessageTarget {
public:
    ToolWindow(std::string procedure, WindowDefinition definition);
    ~ToolWindow() override;
    ToolWindow(const ToolWindow&) = delete;
    ToolWindow& operator=(const ToolWindow&) = delete;

    const std::string& procedure() const { return m_procedure; }
    int instance() const { return m_instance; }
    // "PROC#N", the name the console and scripts use.
    std::string name() const;
    const std::vector<std::string>& arguments() const { return m_arguments; }
    std::string argument(std::size_t index) const;
    const WindowDefinition& definition() const { return m_definition; }
    WindowModel& model() { return m_model; }
    win::HWND hwnd() { return this; }
    bool isOpen() const { return m_open.load(); }
    bool isClosed() const { return m_closed.load(); }
    Desktop* desktop() const { return m_desktop; }
    FrontEnd* frontEnd() const;

    // --- posting, from any thread ---------------------------------------------
    void postMessage(const win::Message& message) override;
    // The window's sockets are watched on its own thread while its loop runs.
    win::PollGroup* pollGroup() override { return m_pollGroup.load(); }
    void postUserEvent(int event, win::WPARAM wParam = 0, win::LPARAM lParam = 0);
    void postClose();
    // What a person does: press a control, pick a menu item. Ignored on a disabled
    // control, as the person could not do it.
    void postControl(int control);
    void postMenu(int id);
    // Runs `fn` on the window's thread after everything already queued; the future
    // is ready once it has run (broken if the window closed first).
    std::future<void> invoke(std::function<void()> fn);

    // --- what a person does, applied on the window's thread (through invoke) ------
    // Typing into a control: false when the control is disabled.
    bool applyInput(int control, const std::string& value);
    // Pressing a button, toggling a check box, choosing a radio option, completing
    // an entry; the control's handler runs. False when the control is disabled.
    bool applyPress(int control);
    // A menu item: standard actions go to the front end, the rest to the handler.
    void applyMenu(int id);

    // --- services for the handlers, on the window's own thread -------------------
    void installHook(std::shared_ptr<MessageHook> hook);
    // Period in hundredths of a second; 0 stops the timer.
    void setTimer(int hundredths);
    int timerPeriod() const { return m_timerPeriod; }
    // Runs `fn` on this thread once `milliseconds` have passed, unless the window
    // is closing by then: a deadline of the handlers' own beside the one timer.
    void callAfter(int milliseconds, std::function<void()> fn);
    int messageBox(const std::string& text, const std::string& caption = {},
                   BoxIcon icon = BoxIcon::None, BoxButtons buttons = BoxButtons::Ok);
    int popupMenu(const std::string& items);
    void beep();
    // Asks the front end to make this window the active one, restored if it was
    // minimised.
    void bringToFront();
    // A desktop notification from this window, where the front end can show one;
    // clicking it brings the window to the front.
    void notifyDesktop(const std::string& text);
    // Starts another procedure on its own thread (as a menu item would).
    void startProcedure(const std::string& procedure, std::vector<std::string> arguments = {});

    // An event waiting in the window's queue (framework detail).
    struct Pending;

    // Shown in logs of failed handlers.
    void reportFailure(const std::string& what);

    // True while the calling thread runs a batch of a window's handlers: what they
    // print may be gathered and written when the batch is over.
    static bool inBatch();

protected:
    // Runs on the window's thread before the window opens. Returning false ends
    // the thread at once: the window never opens, no front end sees it and no
    // other handler runs (a tool that allows one window at a time declines here).
    virtual bool onStart() { return true; }
    virtual void onOpen() {}
    virtual void onClose() {}
    virtual void onControl(int /*control*/) {}
    virtual void onMenu(int /*id*/) {}
    virtual void onTimer() {}
    virtual void onUserEvent(int /*event*/, win::WPARAM, win::LPARAM) {}
    // Windows that do not keep their placement in the settings file say so.
    virtual bool usesPlacement() const { return true; }
    // Called after the close handler and before the window is gone; the frame
    // uses it to close every other window.
    virtual void afterClose() {}

private:
    friend class Desktop;
    friend class WindowLoop;
    friend class WindowThread;

    void post(std::unique_ptr<Pending> event);
    void attachLoop(WindowLoop* loop, win::PollGroup* group);
    void detachLoop();
    // Run by the loop on the window's thread: `woken` when called for the loop's
    // wake-up. runQueued dispatches what is queued, a batch at a time; between
    // holdWakes() and the next runQueued() a post wakes nobody, as the loop is about
    // to look at the queue anyway.
    void runQueued(bool woken);
    void holdWakes();
    // Marks the calling thread as running this window's handlers until endBatch(),
    // which makes good what the batch left pending: the sockets it accepted are
    // watched, its printed lines written.
    void beginBatch();
    void endBatch();
    class Batch {
    public:
        explicit Batch(ToolWindow& window) : m_window(window) { m_window.beginBatch(); }
        ~Batch() { m_window.endBatch(); }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        ToolWindow& m_window;
    };
    // Run on the window's thread by the loop.
    void dispatch(Pending& event);
    bool runStart();
    void runOpen();
    void runClose();
    void runMessage(const win::Message& message);
    void selectRadio(int control);

    std::string m_procedure;
    int m_instance = 0;
    std::vector<std::string> m_arguments;
    WindowDefinition m_definition;
    WindowModel m_model;
    Desktop* m_desktop = nullptr;
    std::shared_ptr<ToolWindow> m_self; // set by Desktop; given to the front end

    // Guards m_loop, m_queue and the wake flags. Events wait in the window's own
    // queue rather than as one Qt event each: the loop is woken only when the queue
    // becomes non-empty while it is not already working through it.
    std::mutex m_postMutex;
    WindowLoop* m_loop = nullptr;
    bool m_loopGone = false;
    bool m_wakePending = false; // a wake-up is on its way to the loop
    bool m_loopBusy = false;    // the loop will look at the queue before it sleeps
    std::deque<std::unique_ptr<Pending>> m_queue;
    std::atomic<win::PollGroup*> m_pollGroup{nullptr};
    // The window thread's blocking sockets calls: closing the window cancels them.
    std::shared_ptr<win::BlockingThread> m_blockingThread;

    std::vector<std::shared_ptr<MessageHook>> m_hooks; // newest first
    int m_timerPeriod = 0;
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_closing{false};
    std::atomic<bool> m_closed{false};
};

} // namespace ui
