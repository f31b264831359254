#pragma once
#include <QThread>
#include <memory>

namespace ui {

class ToolWindow;

// The thread of one window: it opens the window, runs its event loop until the
// window has closed, and tells the desktop when it is done.
class WindowThread : public QThread {
public:
    explicit WindowThread(std::shared_ptr<ToolWindow> window);

protected:
    void run() override;

private:
    std::shared_ptr<ToolWindow> m_window;
};

} // namespace ui
