#pragma once
#include <cstddef>
#include <memory>
#include <mutex>
#include <sys/socket.h>
#include <sys/types.h>

namespace win {

// Winsock 1.1 let a blocking sockets call (connect, recv, send on a socket in
// blocking mode) be cancelled with WSACancelBlockingCall: the call then fails with
// WSAEINTR. Windows ran the thread's messages while it blocked, so closing a window
// could cancel its thread's call from the window's own close handling; here the
// window framework cancels from the thread that asks the window to close, through
// the blocked thread's BlockingThread.
class BlockingThread {
public:
    BlockingThread() = default;
    ~BlockingThread();
    BlockingThread(const BlockingThread&) = delete;
    BlockingThread& operator=(const BlockingThread&) = delete;

    // True while the thread waits inside a blocking sockets call.
    bool isBlocking() const;
    // WSACancelBlockingCall and WSAResumeBlockingCalls without touching the calling
    // thread's last error; cancel() says whether a call was blocking the thread.
    bool cancel();
    void resume();

private:
    friend class BlockingWait;

    mutable std::mutex m_mutex;
    bool m_cancelled = false;
    bool m_blocking = false;
    int m_wakeFd = -1; // made at the thread's first wait; readable once cancelled
};

// The calling thread's BlockingThread, made on first use and kept while the thread
// lives (and while anyone holds it).
std::shared_ptr<BlockingThread> WSACurrentBlockingThread();

// Cancels the sockets call that blocks `thread` now: it fails at once with
// WSAEINTR. The cancel holds for every blocking call the thread starts after it,
// until WSAResumeBlockingCalls, so a thread asked to stop is not caught by its next
// call either. 0 when a call was blocking the thread; otherwise SOCKET_ERROR with
// WSAEINVAL recorded, as Winsock answers when no blocking call is in progress.
int WSACancelBlockingCall(BlockingThread& thread);

// Lets the thread's blocking calls block again.
void WSAResumeBlockingCalls(BlockingThread& thread);

// The system calls behind the sockets calls, cancellable while they block: on a
// blocking socket each waits in poll() beside the thread's wake-up descriptor. They
// return what the system call would, with errno EINTR when cancelled. On a
// non-blocking socket they cost nothing more unless the call would block.
ssize_t cancellableRecvfrom(int fd, void* buf, std::size_t len, int flags, sockaddr* from,
                            socklen_t* fromlen);
ssize_t cancellableSendto(int fd, const void* buf, std::size_t len, int flags, const sockaddr* to,
                          socklen_t tolen);
int cancellableConnect(int fd, const sockaddr* name, socklen_t namelen);

} // namespace win
