#include "ui/eventfile.h"

#include "ui/eventjson.h"
#include "ui/eventqueue.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace ui {
namespace {

int openForAppending(const std::string& path, std::string& error) {
    // Opened non-blocking so that a FIFO without a reader is refused rather than
    // holding the program at start; written blocking, so no line is cut short.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    ::fcntl(fd, F_SETFL, O_APPEND);
    return fd;
}

} // namespace

EventFile::EventFile() = default;

EventFile::~EventFile() {
    m_queue.reset(); // writes what is still on its way
    if (m_fd >= 0) ::close(m_fd);
}

std::string EventFile::open(const std::string& path) {
    std::string error;
    const int fd = openForAppending(path, error);
    if (fd < 0) return error;
    std::lock_guard lock(m_mutex);
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
    m_path = path;
    return {};
}

std::string EventFile::reopen() {
    std::string path;
    {
        std::lock_guard lock(m_mutex);
        path = m_path;
    }
    return open(path);
}

bool EventFile::write(std::string_view lines) {
    std::lock_guard lock(m_mutex);
    while (!lines.empty() && m_fd >= 0) {
        const ssize_t n = ::write(m_fd, lines.data(), lines.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        lines.remove_prefix(static_cast<std::size_t>(n));
    }
    return lines.empty();
}

void EventFile::report(const Event& event) {
    const auto when = EventJson::Clock::now();
    // The console writes its own lines here: the thread starts with the first event
    // the file is given itself.
    std::call_once(m_started, [this] {
        m_queue = std::make_unique<EventQueue>(
            [this](const Event& e, EventJson::Clock::time_point at) {
                EventJson::append(m_encoded, e, at);
                m_encoded += '\n';
            },
            [this] {
                write(m_encoded);
                m_encoded.clear();
            });
    });
    m_queue->push(event, when);
}

} // namespace ui
