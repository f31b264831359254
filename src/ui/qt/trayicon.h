#pragma once
#include "platform/notifyicon.h"

#include <QObject>
#include <QSystemTrayIcon>
#include <atomic>
#include <memory>

class QWidget;

namespace ui {

class GuiQueue;

// The notification area for the windows (Shell_NotifyIconA): one icon in the
// desktop's tray, shown with QSystemTrayIcon. Clicks on it are posted to the window
// that added it as its callback message, as the shell posts them, so the window's
// own handlers answer them. Besides the window's image, the icon shows the alert
// image while something has happened (a trap's hit) since the main window was
// last activated.
class TrayIcon : public QObject, public win::NotificationArea {
public:
    // On the GUI thread; `gui` carries the changes there.
    explicit TrayIcon(GuiQueue& gui);
    ~TrayIcon() override;

    // Any thread. False where the desktop has no tray now.
    bool apply(win::DWORD message, const win::NOTIFYICONDATAA& data) override;

    // --- GUI thread -------------------------------------------------------------
    void setAlert(bool on);
    // The alert ends whenever `window` becomes the active window.
    void watchActivation(QWidget* window);
    // The icon while a window shows one; null otherwise.
    QSystemTrayIcon* icon() const { return m_icon.get(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void change(win::DWORD message, const win::NOTIFYICONDATAA& data);
    void clicked(QSystemTrayIcon::ActivationReason reason);
    void showImage();

    GuiQueue& m_gui;
    std::atomic<bool> m_available{false}; // a tray was there when last looked at
    std::unique_ptr<QSystemTrayIcon> m_icon;
    win::HWND m_window = nullptr;
    win::UINT m_id = 0;
    win::UINT m_callback = 0;
    win::HICON m_image = win::ProgramIcon;
    bool m_alert = false;
};

} // namespace ui
