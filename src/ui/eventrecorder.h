#pragma once
#include "ui/frontend.h"

#include <map>
#include <memory>
#include <mutex>

namespace ui {

class EventSink;
class EventWindow;

// Reports to a sink everything the front end it wraps is asked to show: the
// windows' changes, boxes and their answers, menus and their choices, sounds.
// The console prints these; the Qt front end, wrapped in one, feeds an events
// file the same events.
class EventRecorder : public FrontEnd {
public:
    EventRecorder(FrontEnd& inner, EventSink& sink);
    ~EventRecorder() override;

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
    void flushOutput(bool waited) override;

private:
    FrontEnd& m_inner;
    EventSink& m_sink;
    std::mutex m_mutex;
    std::map<ToolWindow*, std::unique_ptr<EventWindow>> m_windows;
};

} // namespace ui
