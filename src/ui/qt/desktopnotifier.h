#pragma once
#include "ui/frontend.h"

#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <memory>

namespace ui {

class ToolWindow;

// Desktop notifications through the desktop's notification service, the
// freedesktop Notifications interface on the session bus. Each notification
// carries a default action; when the person clicks it the service says which
// notification it was (ActionInvoked), so the click reaches the window that sent
// that very one, whichever came later.
class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    using Clicked = std::function<void(const std::shared_ptr<ToolWindow>&)>;

    // On the GUI thread; `clicked` runs there with the window whose notification
    // was clicked, while that window is open.
    explicit DesktopNotifier(Clicked clicked);
    ~DesktopNotifier() override;

    // Any thread: whether a service is there to show notifications, and if not why.
    static FrontEnd::NotificationSupport support();

    // GUI thread.
    void send(const QString& text, const std::shared_ptr<ToolWindow>& window);

private Q_SLOTS:
    void actionInvoked(uint id, const QString& action);
    void closed(uint id, uint reason);

private:
    Clicked m_clicked;
    bool m_listening = false;
    // The notifications the service still shows, by its identifier: bounded, as a
    // service need not tell of every one it drops.
    std::map<uint, std::weak_ptr<ToolWindow>> m_shown;
};

} // namespace ui
