#pragma once
// Real plain tools on their own threads, with the console front end, in a scratch
// directory, and peers made of bare POSIX sockets on 127.0.0.1.
#include "net/shellstate.h"
#include "platform/scratchdir.h"
#include "support/loopbackports.h"
#include "support/testwindows.h"
#include "support/toolsfixture.h"
#include "tools/registertools.h"
#include "ui/windowmodel.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <dirent.h>
#include <mutex>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

namespace plain_testing {

using testing_support::loopback;
using testing_support::waitUntil;


inline int localPort(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

// A socket bound to the port on every address, as a server holds it; -1 when taken.
inline int holdPort(int type, int port) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(port);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        (type == SOCK_STREAM && ::listen(fd, 4) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// `taken` consecutive ports held by this test and the one after them free: the
// first of them is returned, the holders' descriptors in `holders`.
inline int takenRun(int type, int taken, std::vector<int>& holders) {
    std::mt19937 random(std::random_device{}());
    for (int tries = 0; tries < 200; ++tries) {
        const int base = 20000 + static_cast<int>(random() % 10000);
        holders.clear();
        bool ok = true;
        for (int i = 0; i < taken && ok; ++i) {
            const int fd = holdPort(type, base + i);
            if (fd < 0)
                ok = false;
            else
                holders.push_back(fd);
        }
        if (ok) {
            const int probe = holdPort(type, base + taken);
            if (probe >= 0) {
                ::close(probe);
                return base;
            }
        }
        for (int fd : holders)
            ::close(fd);
    }
    holders.clear();
    return -1;
}

inline int freePort(int type) {
    std::vector<int> none;
    return takenRun(type, 0, none);
}

inline int tcpConnect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline void sendAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

inline int openDescriptors() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ++n;
        ::closedir(d);
    }
    return n - 1; // the directory's own descriptor
}

// Every line appended to a window's log list, also those the list's limit removed.
class RowRecorder : public ui::ModelObserver {
public:
    explicit RowRecorder(int list) : m_list(list) {}
    void modelChanged(const ui::Change& c) override {
        if (c.kind != ui::Change::Kind::RowAppended || c.control != m_list || c.row.size() < 2)
            return;
        std::lock_guard lock(m_mutex);
        m_texts.push_back(c.row[1]);
    }
    std::vector<std::string> texts() const {
        std::lock_guard lock(m_mutex);
        return m_texts;
    }
    std::size_t countStartingWith(const std::string& prefix) const {
        std::lock_guard lock(m_mutex);
        std::size_t n = 0;
        for (const auto& t : m_texts)
            if (t.rfind(prefix, 0) == 0) ++n;
        return n;
    }

private:
    int m_list;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_texts;
};

struct PlainFixture : testing_support::ToolsFixture {
    // The log texts of a window's list as it stands.
    static std::vector<std::string> texts(ui::ToolWindow& w, int list = 1) {
        std::vector<std::string> out;
        for (const auto& row : w.model().rows(list))
            out.push_back(row.size() > 1 ? row[1] : "");
        return out;
    }
    static bool hasText(ui::ToolWindow& w, const std::string& text, int list = 1) {
        for (const auto& t : texts(w, list))
            if (t == text) return true;
        return false;
    }
    static bool waitForText(ui::ToolWindow& w, const std::string& text, int list = 1,
                            int milliseconds = 10000) {
        return waitUntil([&] { return hasText(w, text, list); }, milliseconds);
    }

    // A server started with its parameter, once it waits for peers.
    std::shared_ptr<ui::ToolWindow> startServer(const std::string& procedure,
                                                const std::string& parameter) {
        auto w = desktop->start(procedure, {parameter});
        EXPECT_TRUE(w && waitForText(*w, "waiting to accept()..."));
        // The blank line after it ends the start-up.
        EXPECT_TRUE(waitUntil([&] { return texts(*w).back() == ""; }));
        return w;
    }

    void closeWindow(const std::shared_ptr<ui::ToolWindow>& w) {
        w->postClose();
        ASSERT_TRUE(waitUntil([&] { return w->isClosed(); }, 10000));
    }
};

} // namespace plain_testing
