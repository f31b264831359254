#pragma once
// A loopback listener whose accept queue is full and never served: the system
// drops further handshakes, so a connect to it hangs until cancelled (or for about
// two minutes of retries).
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace testing_support {

class FullBacklog {
public:
    FullBacklog() {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(m_listener, 0) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        m_port = ntohs(a.sin_port);
        // Connections until one is not answered within a while: the queue is full.
        for (int i = 0; i < 16 && !m_full; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            m_fillers.push_back(fd);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) continue;
            if (errno != EINPROGRESS) return;
            pollfd p{fd, POLLOUT, 0};
            m_full = ::poll(&p, 1, 500) == 0;
        }
    }
    ~FullBacklog() {
        for (int fd : m_fillers)
            ::close(fd);
        if (m_listener >= 0) ::close(m_listener);
    }
    FullBacklog(const FullBacklog&) = delete;
    FullBacklog& operator=(const FullBacklog&) = delete;

    // False when the queue could not be filled (the test cannot hang a connect).
    bool full() const { return m_full; }
    int port() const { return m_port; }
    sockaddr_in address() const {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(m_port));
        return a;
    }

private:
    int m_listener = -1;
    int m_port = 0;
    bool m_full = false;
    std::vector<int> m_fillers;
};

} // namespace testing_support
