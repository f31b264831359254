#include "ui/console/scriptinput.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace ui {

ScriptInput::ScriptInput(int fd, bool owned) : m_fd(fd), m_owned(owned) {
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) m_wake[0] = m_wake[1] = -1;
}

ScriptInput::~ScriptInput() {
    for (int fd : m_wake)
        if (fd >= 0) ::close(fd);
    if (m_owned && m_fd >= 0) ::close(m_fd);
}

void ScriptInput::cancel() {
    m_cancelled = true;
    if (m_wake[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wake[1], &byte, 1);
    }
}

bool ScriptInput::fill() {
    // Waits on the script and on the wake-up pipe together: a cancel ends the wait
    // even when nobody ever writes another line.
    for (;;) {
        if (m_cancelled) return false;
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        const int ready = ::poll(fds, m_wake[0] >= 0 ? 2 : 1, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            m_failed = true;
            return false;
        }
        if (m_cancelled) return false;
        if (fds[0].revents == 0) continue;
        char chunk[4096];
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) m_failed = true;
        if (n <= 0) return false;
        m_buffer.append(chunk, static_cast<std::size_t>(n));
        return true;
    }
}

ScriptInput::Result ScriptInput::readLine(std::string& line) {
    bool skipping = false;
    for (;;) {
        const std::size_t nl = m_buffer.find('\n');
        if (nl != std::string::npos) {
            if (skipping || nl > LongestLine) {
                m_buffer.erase(0, nl + 1);
                return Result::TooLong;
            }
            line.assign(m_buffer, 0, nl);
            m_buffer.erase(0, nl + 1);
            return Result::Line;
        }
        if (m_buffer.size() > LongestLine) {
            // A script without line ends (a binary file, an endless stream) must not
            // grow memory without end: the line is dropped as it comes.
            skipping = true;
            m_buffer.clear();
        }
        if (m_ended || !fill()) {
            m_ended = true;
            if (skipping) {
                m_buffer.clear();
                return Result::TooLong;
            }
            if (m_buffer.empty() || m_cancelled) return Result::End;
            line.swap(m_buffer);
            m_buffer.clear();
            return Result::Line;
        }
    }
}

} // namespace ui
