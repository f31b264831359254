#include "ui/qt/guiqueue.h"

#include <QCoreApplication>
#include <QEvent>

namespace ui {
namespace {
const QEvent::Type kWakeType = static_cast<QEvent::Type>(QEvent::registerEventType());
}

void GuiQueue::post(std::function<void()> work) {
    {
        std::lock_guard lock(m_mutex);
        m_work.push_back(std::move(work));
        if (m_wakePending) return;
        m_wakePending = true;
    }
    QCoreApplication::postEvent(this, new QEvent(kWakeType));
}

bool GuiQueue::event(QEvent* event) {
    if (event->type() != kWakeType) return QObject::event(event);
    // What is queued now runs now, in order; what it or the tools add meanwhile
    // waits for the next pass, after the events Qt has waiting (painting, input),
    // so a tool that never stops writing cannot hold the GUI in this loop.
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(m_mutex);
        batch.swap(m_work);
    }
    for (auto& work : batch)
        work();
    {
        std::lock_guard lock(m_mutex);
        if (m_work.empty()) {
            m_wakePending = false;
            return true;
        }
    }
    QCoreApplication::postEvent(this, new QEvent(kWakeType));
    return true;
}

} // namespace ui
