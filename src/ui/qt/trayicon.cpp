#include "ui/qt/trayicon.h"

#include "ui/qt/guiqueue.h"
#include "ui/qt/programfiles.h"
#include "ui/qt/textedge.h"

#include <QEvent>
#include <QWidget>
#include <cstring>

namespace ui {

TrayIcon::TrayIcon(GuiQueue& gui) : m_gui(gui) {
    m_available = QSystemTrayIcon::isSystemTrayAvailable();
}

TrayIcon::~TrayIcon() = default;

bool TrayIcon::apply(win::DWORD message, const win::NOTIFYICONDATAA& data) {
    if (!data.hWnd) return false;
    m_gui.post([this, message, data] { change(message, data); });
    return message == win::NIM_DELETE || m_available.load();
}

void TrayIcon::change(win::DWORD message, const win::NOTIFYICONDATAA& data) {
    // A tray may have come or gone since start.
    m_available = QSystemTrayIcon::isSystemTrayAvailable();
    if (message == win::NIM_DELETE) {
        if (data.hWnd == m_window && data.uID == m_id) {
            m_icon.reset();
            m_window = nullptr;
        }
        return;
    }
    if (message == win::NIM_ADD) {
        // One icon at a time: a second window's icon takes the place of the first.
        m_icon = std::make_unique<QSystemTrayIcon>();
        connect(m_icon.get(), &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) { clicked(reason); });
        m_window = data.hWnd;
        m_id = data.uID;
    } else if (!m_icon || data.hWnd != m_window || data.uID != m_id) {
        return;
    }
    if (data.uFlags & win::NIF_MESSAGE) m_callback = data.uCallbackMessage;
    if (data.uFlags & win::NIF_ICON) m_image = data.hIcon;
    if (data.uFlags & win::NIF_TIP)
        m_icon->setToolTip(
            textedge::toQt(std::string(data.szTip, strnlen(data.szTip, sizeof data.szTip))));
    showImage();
    if (message == win::NIM_ADD) m_icon->show();
}

void TrayIcon::clicked(QSystemTrayIcon::ActivationReason reason) {
    if (!m_window || m_callback == 0) return;
    win::UINT mouse = 0;
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        mouse = win::WM_LBUTTONUP;
        break;
    case QSystemTrayIcon::Context:
        mouse = win::WM_RBUTTONUP;
        break;
    case QSystemTrayIcon::DoubleClick:
        mouse = win::WM_LBUTTONDBLCLK;
        break;
    default:
        return;
    }
    m_window->postMessage({m_callback, m_id, static_cast<win::LPARAM>(mouse), 0});
}

void TrayIcon::setAlert(bool on) {
    if (m_alert == on) return;
    m_alert = on;
    showImage();
}

void TrayIcon::showImage() {
    if (!m_icon) return;
    const bool alert = m_alert || m_image == win::AlertIcon;
    m_icon->setIcon(alert ? programfiles::alertIcon() : programfiles::appIcon());
}

void TrayIcon::watchActivation(QWidget* window) {
    window->installEventFilter(this);
}

bool TrayIcon::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::WindowActivate) setAlert(false);
    return QObject::eventFilter(watched, event);
}

} // namespace ui
