#pragma once
#include "ui/definition.h"
#include "ui/messagebox.h"

#include <memory>
#include <string>

namespace ui {

class ToolWindow;

// What a front end (the Qt renderer or the console) does for the windows. The
// framework calls these from the tool threads; a front end marshals to its own
// thread where it needs to.
class FrontEnd {
public:
    virtual ~FrontEnd() = default;
    // On the window's thread, before its first handler runs. The front end starts
    // observing the window's model here.
    virtual void windowOpened(const std::shared_ptr<ToolWindow>& window) = 0;
    // On the window's thread, after its close handler; no handler runs afterwards.
    virtual void windowClosed(ToolWindow& window) = 0;
    // Modal for the window that asks: its thread waits for the answer (a BoxAnswer).
    virtual int messageBox(ToolWindow& window, const BoxRequest& request) = 0;
    // The chosen entry, numbered from 1 without separators; 0 when dismissed.
    virtual int popupMenu(ToolWindow& window, const std::string& items) = 0;
    virtual void beep(ToolWindow* window) = 0;
    // Modal for the window that asks: a directory the person picks, starting at
    // `start`; empty when the choice is cancelled. A front end without a screen
    // has no one to ask, and a tool there takes the directory typed into its field.
    virtual std::string chooseDirectory(ToolWindow& /*window*/, const std::string& /*title*/,
                                        const std::string& /*start*/) {
        return {};
    }
    // Plays a wave file without blocking the caller; a file that cannot be played
    // gives the default beep, a machine without sound stays silent.
    virtual void playSound(ToolWindow* window, const std::string& file) = 0;
    virtual void standardAction(ToolWindow& frame, StandardAction action) = 0;
    // Makes the window the active one, restored if minimised. From the window's thread.
    virtual void bringToFront(ToolWindow& /*window*/) {}
    // Whether desktop notifications can be shown, and when not why ("no
    // notification service on the session bus"); `why` is empty where the question
    // does not arise, as for a front end without a screen. From any thread.
    struct NotificationSupport {
        bool available = false;
        std::string why;
    };
    virtual NotificationSupport notificationSupport() { return {}; }
    // Shows `text` (Windows-1250) as a desktop notification; clicking it brings
    // `window` to the front. Something has happened that the person should see:
    // the front end may also flag it until they look. From the window's thread.
    virtual void notify(ToolWindow& /*window*/, const std::string& /*text*/) {}
    // Every window has closed after the frame: the program ends.
    virtual void allClosed() = 0;
    // A window's thread has run a batch of handlers (`waited` false), or someone
    // waits on one of them (true): output gathered meanwhile is due now, and when
    // someone waits it is written before they go on. From any window's thread.
    virtual void flushOutput(bool /*waited*/) {}
};

} // namespace ui
