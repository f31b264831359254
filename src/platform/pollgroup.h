#pragma once

namespace win {

// The sockets of one window, watched on that window's own thread: an epoll set that
// the window's event loop watches (its descriptor becomes readable when one of the
// sockets has something to report) and drains with dispatch(). Notifications then
// reach the window without a thread switch. Made, dispatched and destroyed on the
// window's thread; WSAAsyncSelect may add sockets to it from any thread.
class PollGroup {
public:
    PollGroup();
    // Registrations still in the group stay registered but report nothing more: the
    // window that would receive them is gone.
    ~PollGroup();
    PollGroup(const PollGroup&) = delete;
    PollGroup& operator=(const PollGroup&) = delete;

    // The epoll descriptor to watch for reading; -1 when none could be made.
    int fd() const { return m_epoll; }
    // Posts what the group's sockets have to report now, without waiting. Returns
    // how many sockets were ready (0 when none).
    int dispatch();
    // The window's handlers have run a batch: the sockets they accepted and kept
    // are watched from now on.
    void flush();

private:
    int m_epoll = -1;
};

} // namespace win
