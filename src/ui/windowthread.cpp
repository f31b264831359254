#include "ui/windowthread.h"

#include "ui/desktop.h"
#include "ui/toolwindow.h"
#include "ui/windowloop.h"

namespace ui {

WindowThread::WindowThread(std::shared_ptr<ToolWindow> window) : m_window(std::move(window)) {}

void WindowThread::run() {
    {
        WindowLoop loop(*m_window);
        m_window->attachLoop(&loop, loop.pollGroup());
        if (m_window->runStart()) {
            {
                ToolWindow::Batch batch(*m_window);
                m_window->runOpen();
            }
            if (!m_window->isClosed()) exec();
        }
        m_window->detachLoop();
        // Events still queued are deleted by detachLoop, breaking their promises, so
        // nobody waits for a window that is gone. Sockets still registered stay so,
        // but their group closes with the loop and nothing more is posted.
    }
    Desktop* desktop = m_window->desktop();
    std::shared_ptr<ToolWindow> window = std::move(m_window);
    if (desktop) desktop->windowFinished(window);
}

} // namespace ui
