#include "platform/notifyicon.h"

#include <mutex>

namespace win {
namespace {

// Guards the area for as long as a call runs, so the front end cannot go while
// a window's thread is inside it.
std::mutex g_mutex;
NotificationArea* g_area = nullptr;

} // namespace

void SetNotificationArea(NotificationArea* area) {
    std::lock_guard lock(g_mutex);
    g_area = area;
}

BOOL Shell_NotifyIconA(DWORD message, const NOTIFYICONDATAA* data) {
    if (!data || message > NIM_DELETE) return 0;
    std::lock_guard lock(g_mutex);
    return g_area && g_area->apply(message, *data) ? 1 : 0;
}

} // namespace win
