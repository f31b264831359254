// WSAAsyncSelect and the checks that keep a closed socket's messages out.
#include "platform/asynclookupservice.h"
#include "platform/asyncselectpoller.h"
#include "platform/winsockstate.h"

#include <cerrno>
#include <climits>

#include <fcntl.h>

namespace win {

int WSAAsyncSelect(SOCKET s, HWND window, UINT msg, long events) {
    if (!socketsReady()) return SOCKET_ERROR;
    const auto record = socketRecord(s);
    if (!record) return SOCKET_ERROR;
    constexpr long known = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
    if ((events & ~known) != 0 || (events != 0 && window == nullptr)) return failWith(WSAEINVAL);
    const int fd = int(s);
    // The socket becomes non-blocking, and stays so when notifications are
    // cancelled, as with Winsock.
    if (!record->nonBlocking) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
            return failWith(WSAErrorFromErrno(errno));
        SocketTable::instance().setNonBlocking(fd, true);
    }
    const int error =
        AsyncSelectPoller::instance().select(fd, record->stamp, record->type == SOCK_STREAM,
                                             record->connectStarted, window, msg, events);
    return error == 0 ? 0 : failWith(error);
}

std::vector<SOCKET> WSAAnnouncedSockets(HWND window, long event) {
    std::vector<SOCKET> sockets;
    for (const int fd : AsyncSelectPoller::instance().announced(window, event))
        sockets.push_back(SOCKET(fd));
    return sockets;
}

void WSADetachWindow(HWND window) {
    AsyncSelectPoller::instance().detach(window);
    AsyncLookupService::instance().detach(window);
}

bool NotificationIsCurrent(const Message& message) {
    // Messages that name no socket (lookup completions, window messages) are
    // always current.
    if (message.socketStamp == 0) return true;
    if (message.wParam > WPARAM(INT_MAX)) return false;
    return SocketTable::instance().isCurrent(int(message.wParam), message.socketStamp);
}

} // namespace win
