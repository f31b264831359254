#pragma once
#include "platform/message.h"

// The desktop's notification area (the "tray"), as the shell's Shell_NotifyIconA
// offers it: a window adds an icon with an identifier, a tip and a callback
// message, and is posted that message (wParam the identifier, lParam the mouse
// message) when the person clicks the icon. Here a front end with a screen
// provides the area; without one every call fails, as it does on Windows while no
// shell runs.
namespace win {

// The icons a window may show there: images of the program's own.
using HICON = int;
constexpr HICON ProgramIcon = 1; // the program's icon
constexpr HICON AlertIcon = 2;   // the same with an alert mark

constexpr DWORD NIM_ADD = 0;
constexpr DWORD NIM_MODIFY = 1;
constexpr DWORD NIM_DELETE = 2;
constexpr UINT NIF_MESSAGE = 0x1;
constexpr UINT NIF_ICON = 0x2;
constexpr UINT NIF_TIP = 0x4;

constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_RBUTTONDBLCLK = 0x0206;

struct NOTIFYICONDATAA {
    DWORD cbSize = sizeof(NOTIFYICONDATAA);
    HWND hWnd = nullptr;
    UINT uID = 0;
    UINT uFlags = 0;
    UINT uCallbackMessage = 0;
    HICON hIcon = 0;
    char szTip[64] = {}; // Windows-1250, zero-terminated
};

// What a front end implements to be the notification area. Called from any
// thread; true when the change was taken (an icon added where a tray may show it).
class NotificationArea {
public:
    virtual ~NotificationArea() = default;
    virtual bool apply(DWORD message, const NOTIFYICONDATAA& data) = 0;
};

// The front end that is the notification area, or null; any thread.
void SetNotificationArea(NotificationArea* area);

BOOL Shell_NotifyIconA(DWORD message, const NOTIFYICONDATAA* data);

} // namespace win
