#include "ui/windowloop.h"

#include "platform/pollgroup.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>

namespace ui {
namespace {

const QEvent::Type kWakeType = static_cast<QEvent::Type>(QEvent::registerEventType());

// How often the loop looks at its sockets again, without going back to Qt, while
// each look finds something: a socket answered on this thread is often ready again
// by the time its handler returns. Bounded so timers and wake-ups still get their turn.
constexpr int kSocketRounds = 64;

} // namespace

WindowLoop::WindowLoop(ToolWindow& window)
    : m_window(window), m_group(std::make_unique<win::PollGroup>()) {
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        ToolWindow::Batch batch(m_window);
        if (!m_window.m_closing) m_window.onTimer();
    });
    if (m_group->fd() >= 0) {
        m_notifier = std::make_unique<QSocketNotifier>(m_group->fd(), QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { socketsReady(); });
    }
}

WindowLoop::~WindowLoop() = default;

win::PollGroup* WindowLoop::pollGroup() const { return m_notifier ? m_group.get() : nullptr; }

void WindowLoop::wake() { QCoreApplication::postEvent(this, new QEvent(kWakeType)); }

void WindowLoop::setTimer(int hundredths) {
    if (hundredths <= 0) {
        m_timer.stop();
        return;
    }
    m_timer.start(hundredths * 10);
}

void WindowLoop::callAfter(int milliseconds, std::function<void()> fn) {
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, this, [this, fn = std::move(fn)] {
        ToolWindow::Batch batch(m_window);
        if (!m_window.m_closing) fn();
    });
}

bool WindowLoop::event(QEvent* event) {
    if (event->type() != kWakeType) return QObject::event(event);
    ToolWindow::Batch batch(m_window);
    m_window.runQueued(true);
    return true;
}

void WindowLoop::socketsReady() {
    ToolWindow::Batch batch(m_window);
    for (int round = 0; round < kSocketRounds && !m_window.isClosed(); ++round) {
        // What the group posts lands in the window's queue, which is worked through
        // right after: no wake-up is needed for it.
        m_window.holdWakes();
        const int ready = m_group->dispatch();
        m_window.runQueued(false);
        if (ready == 0) break;
    }
}

} // namespace ui
