#include "ui/windowloop.h"

#include "ui/pendingevent.h"

#include <QCoreApplication>
#include <QEvent>

namespace ui {
namespace {

const QEvent::Type kPendingType = static_cast<QEvent::Type>(QEvent::registerEventType());

class PendingQEvent : public QEvent {
public:
    explicit PendingQEvent(std::unique_ptr<ToolWindow::Pending> p)
        : QEvent(kPendingType), pending(std::move(p)) {}
    std::unique_ptr<ToolWindow::Pending> pending;
};

} // namespace

WindowLoop::WindowLoop(ToolWindow& window) : m_window(window) {
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        if (!m_window.m_closing) m_window.onTimer();
    });
}

void WindowLoop::enqueue(std::unique_ptr<ToolWindow::Pending> event) {
    QCoreApplication::postEvent(this, new PendingQEvent(std::move(event)));
}

void WindowLoop::setTimer(int hundredths) {
    if (hundredths <= 0) {
        m_timer.stop();
        return;
    }
    m_timer.start(hundredths * 10);
}

bool WindowLoop::event(QEvent* event) {
    if (event->type() != kPendingType) return QObject::event(event);
    auto* e = static_cast<PendingQEvent*>(event);
    m_window.dispatch(*e->pending);
    return true;
}

} // namespace ui
