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
    // One piece at a time, each taken under the lock: what a piece posts runs in
    // this same pass, after it, and no wake-up is lost between the last piece and
    // the flag going down.
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard lock(m_mutex);
            if (m_work.empty()) {
                m_wakePending = false;
                return true;
            }
            work = std::move(m_work.front());
            m_work.pop_front();
        }
        work();
    }
}

} // namespace ui
