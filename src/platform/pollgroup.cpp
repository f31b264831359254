#include "platform/pollgroup.h"

#include "platform/asyncselectpoller.h"

#include <sys/epoll.h>
#include <unistd.h>

namespace win {

PollGroup::PollGroup() : m_epoll(::epoll_create1(EPOLL_CLOEXEC)) {
    if (m_epoll >= 0) AsyncSelectPoller::instance().groupOpened(m_epoll);
}

PollGroup::~PollGroup() {
    if (m_epoll < 0) return;
    // Before the descriptor goes: its number may be reused by the next group.
    AsyncSelectPoller::instance().releaseEpoll(m_epoll);
    ::close(m_epoll);
}

int PollGroup::dispatch() {
    if (m_epoll < 0) return 0;
    flush();
    const int ready = AsyncSelectPoller::instance().poll(m_epoll, 0);
    return ready > 0 ? ready : 0;
}

void PollGroup::flush() {
    if (m_epoll >= 0) AsyncSelectPoller::instance().armPending(m_epoll);
}

} // namespace win
