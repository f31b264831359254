#pragma once
#include <string>
#include <sys/inotify.h>
#include <unistd.h>

namespace testing_support {

// The number of times a file named `name` in the current directory was replaced
// by a rename (how the profile functions write) while `fn` ran; -1 when the
// directory cannot be watched.
template <typename Fn> int replacementsOf(const char* name, Fn fn) {
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return -1;
    if (::inotify_add_watch(fd, ".", IN_MOVED_TO) < 0) {
        ::close(fd);
        return -1;
    }
    fn();
    int count = 0;
    alignas(inotify_event) char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
            if (e->len > 0 && std::string(e->name) == name) ++count;
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    }
    ::close(fd);
    return count;
}

} // namespace testing_support
