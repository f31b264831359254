#include "platform/descriptorreserve.h"

#include <fcntl.h>
#include <unistd.h>

namespace win {

DescriptorReserve& DescriptorReserve::instance() {
    // Never destroyed: any thread may shed a connection until the process ends.
    static DescriptorReserve* reserve = new DescriptorReserve;
    return *reserve;
}

void DescriptorReserve::ensure() {
    std::lock_guard lock(m_mutex);
    if (m_fd < 0) m_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

bool DescriptorReserve::shed(int listenFd, sockaddr* addr, socklen_t* len) {
    std::lock_guard lock(m_mutex);
    if (m_fd < 0) return false;
    ::close(m_fd);
    // The freed number is the lowest free one, so the accept below gets it unless
    // another thread is quicker; then this accept fails as the caller's did.
    const int taken = ::accept4(listenFd, addr, len, SOCK_CLOEXEC);
    if (taken >= 0) ::close(taken);
    m_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    return taken >= 0;
}

} // namespace win
