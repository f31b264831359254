#pragma once
#include <cstdint>

namespace win {

using UINT = unsigned int;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using BOOL = int;

constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_QUERYENDSESSION = 0x0011;
constexpr UINT WM_ENDSESSION = 0x0016;

// A raw window message as the platform services post it. When wParam names a
// socket, `socketStamp` identifies that socket's life (0 otherwise): the receiving
// window asks NotificationIsCurrent() before handing the message on, so a message
// still queued for a socket that was closed meanwhile is dropped, even when the
// descriptor number has been reused by a newer socket.
struct Message {
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::uint64_t socketStamp = 0;
};

class PollGroup;

// Whatever accepts posted messages: a tool window. postMessage never blocks and may
// be called from any thread; it must not call back into the socket layer, since the
// socket layer posts under its own lock.
class MessageTarget {
public:
    virtual ~MessageTarget() = default;
    virtual void postMessage(const Message& message) = 0;
    // A target that runs its own event loop may watch its sockets itself: their
    // notifications are then found and posted on its own thread, by its group's
    // dispatch(), rather than by the process-wide poller thread. Null: no group.
    virtual PollGroup* pollGroup() { return nullptr; }
};

using HWND = MessageTarget*;

// False when the message names a socket that has been closed since it was posted.
bool NotificationIsCurrent(const Message& message);

} // namespace win
