#pragma once
#include "ui/frontend.h"

#include <atomic>
#include <condition_variable>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class QObject;
class QMdiSubWindow;

namespace ui {

class Desktop;
class DesktopNotifier;
class FrameWindow;
class GuiQueue;
class ModalRequests;
class SoundPlayer;
class ToolSubWindow;
class TrayIcon;
class WindowObserver;

// The Qt Widgets front end: the frame as a QMainWindow with an MDI area, each tool
// window a QMdiSubWindow built from its definition. Runs on the GUI thread only;
// calls from tool threads are marshalled to it.
class QtFrontEnd : public FrontEnd {
public:
    QtFrontEnd();
    ~QtFrontEnd() override;
    void setDesktop(Desktop* desktop);

    void windowOpened(const std::shared_ptr<ToolWindow>& window) override;
    void windowClosed(ToolWindow& window) override;
    int messageBox(ToolWindow& window, const BoxRequest& request) override;
    int popupMenu(ToolWindow& window, const std::string& items) override;
    std::string chooseDirectory(ToolWindow& window, const std::string& title,
                                const std::string& start) override;
    void beep(ToolWindow* window) override;
    void playSound(ToolWindow* window, const std::string& file) override;
    void standardAction(ToolWindow& frame, StandardAction action) override;
    void bringToFront(ToolWindow& window) override;
    NotificationSupport notificationSupport() override;
    void notify(ToolWindow& window, const std::string& text) override;
    void allClosed() override;

    // --- GUI thread ------------------------------------------------------------
    // The main window (made on first use).
    FrameWindow& mainWindow();
    // The subwindow showing a tool window, once it has been made.
    ToolSubWindow* subWindow(const ToolWindow& window) const;
    // The notification area's icon (null without a QApplication).
    TrayIcon* trayIcon() const { return m_tray.get(); }
    // How many times queued model changes were carried to the GUI thread.
    int changeFlushes() const { return m_flushes.load(); }

private:
    struct Shown {
        std::shared_ptr<ToolWindow> window;
        std::shared_ptr<WindowObserver> observer;
        ToolSubWindow* sub = nullptr; // null for the frame
    };

    template <typename Fn> void onGui(Fn fn);
    void show(const std::shared_ptr<ToolWindow>& window,
              const std::shared_ptr<WindowObserver>& observer);
    void forget(ToolWindow* window);
    int waitFor(std::future<int> answer, int fallback);
    // A notification of `window` was clicked (GUI thread).
    void showNotified(const std::shared_ptr<ToolWindow>& window);

    Desktop* m_desktop = nullptr;
    std::unique_ptr<GuiQueue> m_gui; // lives on the GUI thread; queued calls go to it
    std::unique_ptr<FrameWindow> m_main;
    std::unique_ptr<ModalRequests> m_modal;
    std::unique_ptr<SoundPlayer> m_sound;
    std::unique_ptr<TrayIcon> m_tray;
    std::unique_ptr<DesktopNotifier> m_notifier;
    std::map<const ToolWindow*, Shown> m_shown; // GUI thread
    // Tool windows that opened while the frame was first being shown: made once
    // the event loop has had its turn and the frame is up (GUI thread).
    bool m_frameComing = false;
    std::vector<Shown> m_deferred;
    // A frame has opened and the GUI thread has not shown it yet: the tools it
    // starts wait for it before their first handler (guarded by m_mutex).
    bool m_frameWaited = false;
    std::condition_variable m_frameShown;
    bool m_mainShown = false; // guarded by m_mutex

    std::mutex m_mutex; // guards m_observers, used by the tool threads
    std::map<const ToolWindow*, std::shared_ptr<WindowObserver>> m_observers;
    std::atomic<int> m_flushes{0};
    std::atomic<bool> m_quitting{false};
};

} // namespace ui
