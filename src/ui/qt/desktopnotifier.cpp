#include "ui/qt/desktopnotifier.h"

#include "ui/toolwindow.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QIcon>
#include <QVariantMap>

namespace ui {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDefaultAction = QStringLiteral("default");
constexpr std::size_t kRemembered = 64;

} // namespace

DesktopNotifier::DesktopNotifier(Clicked clicked) : m_clicked(std::move(clicked)) {}

DesktopNotifier::~DesktopNotifier() = default;

FrontEnd::NotificationSupport DesktopNotifier::support() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return {false, "no session bus"};
    QDBusConnectionInterface* names = bus.interface();
    if (names && names->isServiceRegistered(kService).value()) return {true, {}};
    // A service the bus starts on the first call counts as there.
    const QDBusMessage activatable = bus.call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListActivatableNames")));
    if (activatable.type() == QDBusMessage::ReplyMessage && !activatable.arguments().isEmpty() &&
        activatable.arguments().first().toStringList().contains(kService))
        return {true, {}};
    return {false, "no notification service on the session bus"};
}

void DesktopNotifier::send(const QString& text, const std::shared_ptr<ToolWindow>& window) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    if (!m_listening) {
        bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                    SLOT(actionInvoked(uint, QString)));
        bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                    SLOT(closed(uint, uint)));
        m_listening = true;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("wstoolbox"));
    // The whole text is the summary: a notice is one line.
    // The icon by its name where the program is installed with it.
    const QString icon =
        QIcon::hasThemeIcon(QStringLiteral("wstoolbox")) ? QStringLiteral("wstoolbox") : QString();
    call << QStringLiteral("WS toolbox") << uint(0) << icon << text << QString()
         << QStringList{kDefaultAction, QStringLiteral("Show")} << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    std::weak_ptr<ToolWindow> from = window;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, from](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusPendingReply<uint> reply = *w;
                if (reply.isError()) return;
                if (m_shown.size() >= kRemembered) m_shown.erase(m_shown.begin());
                m_shown[reply.value()] = from;
            });
}

void DesktopNotifier::actionInvoked(uint id, const QString& action) {
    if (action != kDefaultAction) return;
    const auto it = m_shown.find(id);
    if (it == m_shown.end()) return;
    const std::shared_ptr<ToolWindow> window = it->second.lock();
    if (window && window->isOpen() && !window->isClosed()) m_clicked(window);
}

void DesktopNotifier::closed(uint id, uint) {
    m_shown.erase(id);
}

} // namespace ui
