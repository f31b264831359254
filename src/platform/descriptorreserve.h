#pragma once
#include <mutex>

#include <sys/socket.h>

namespace win {

// One descriptor the process holds back. When descriptors run out, accept() fails
// and leaves the connection in the listener's queue, so the listener stays ready
// and announces the same connection again at once, for ever. With the reserve the
// waiting connection is still taken from the queue, its peer noted, and closed at
// once: the queue drains and the peer learns the service is there but full.
class DescriptorReserve {
public:
    static DescriptorReserve& instance();

    // Takes the reserve if it is not held (at start-up, while descriptors are free).
    void ensure();
    // Takes the connection waiting on `listenFd` with the reserved descriptor and
    // closes it; its peer's address goes to `addr` (`len` in and out), when given.
    // False when there is no reserve or no connection could be taken.
    bool shed(int listenFd, sockaddr* addr, socklen_t* len);

private:
    DescriptorReserve() = default;

    std::mutex m_mutex;
    int m_fd = -1;
};

} // namespace win
