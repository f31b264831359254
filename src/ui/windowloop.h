#pragma once
#include "ui/toolwindow.h"

#include <QObject>
#include <QTimer>
#include <memory>

namespace ui {

// The QObject that lives on a window's thread: queued events are delivered to it
// and handed to the window one at a time; it also owns the window's timer.
class WindowLoop : public QObject {
public:
    explicit WindowLoop(ToolWindow& window);
    void enqueue(std::unique_ptr<ToolWindow::Pending> event);
    void setTimer(int hundredths);

protected:
    bool event(QEvent* event) override;

private:
    ToolWindow& m_window;
    QTimer m_timer;
};

} // namespace ui
