#pragma once
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ui {

class FrontEnd;
class ProcedureRegistry;
class ToolWindow;
class WindowThread;

// The set of open windows: starts procedures on their own threads, finds windows
// by name, ends the session. One per process run.
class Desktop {
public:
    Desktop(FrontEnd& frontEnd, const ProcedureRegistry& registry);
    ~Desktop();
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    FrontEnd& frontEnd() { return m_frontEnd; }
    const ProcedureRegistry& registry() const { return m_registry; }

    // Starts a new instance of the procedure on its own thread with up to three
    // text arguments; null when no such procedure exists, or when it is the
    // frame's and the frame is open (there is one frame a session). Any thread.
    std::shared_ptr<ToolWindow> start(const std::string& procedure,
                                      std::vector<std::string> arguments = {});
    // Starts an already made window (tests use it for windows of their own).
    std::shared_ptr<ToolWindow> start(std::unique_ptr<ToolWindow> window,
                                      std::vector<std::string> arguments = {});

    std::vector<std::shared_ptr<ToolWindow>> windows() const;
    // "PROC#N", or "PROC" for its newest open instance.
    std::shared_ptr<ToolWindow> find(const std::string& name) const;
    // Whether a window of that name is open or may still open: false for a
    // numbered instance that has closed, a frame other than the open one, a
    // number that is not one, and a procedure nobody has.
    bool mayOpen(const std::string& name) const;
    // Waits until a window of that name has opened; null after the time-out.
    std::shared_ptr<ToolWindow> waitFor(const std::string& name, int milliseconds) const;

    // The frame: when it has closed, every other window is closed, and when the
    // last one is gone the front end is told that all have closed.
    void setFrame(const std::shared_ptr<ToolWindow>& frame);
    void frameClosed();
    // Asks every window but the frame to close and waits until they have (or the
    // time-out passed); false on time-out. The frame uses it before it ends the
    // sockets layer, so the tools close their sockets while the layer still runs.
    bool closeToolsAndWait(int milliseconds);
    // The session is ending (a signal): every window is told as Windows would tell
    // it, with WM_QUERYENDSESSION and WM_ENDSESSION.
    void endSession();
    // Asks every window to close and waits for their threads (tests, shutdown).
    void closeAll();
    bool waitAllClosed(int milliseconds);

    // Called by a window's thread when the window is gone.
    void windowFinished(const std::shared_ptr<ToolWindow>& window);

private:
    void reapThreads();

    FrontEnd& m_frontEnd;
    const ProcedureRegistry& m_registry;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::shared_ptr<ToolWindow>> m_windows;
    std::map<std::string, int> m_instances;
    std::vector<std::unique_ptr<WindowThread>> m_threads;
    std::weak_ptr<ToolWindow> m_frame;
    bool m_frameClosed = false;
    bool m_allClosedSent = false;
};

} // namespace ui
