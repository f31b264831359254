#pragma once
#include "platform/winsock.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

// A window for the tests: queues what the socket layer posts to it, lets a test
// wait for the next message with a deadline, and notes any post that arrives for a
// socket life or after a moment the test has declared closed.
class MessageRecorder : public win::MessageTarget {
public:
    using Clock = std::chrono::steady_clock;

    ~MessageRecorder() override { win::WSADetachWindow(this); }

    void postMessage(const win::Message& message) override {
        std::lock_guard lock(m_mutex);
        if (m_closed.load() || (message.socketStamp != 0 && message.socketStamp == m_forbidden))
            m_latePosts.fetch_add(1);
        m_queue.push_back(message);
        m_arrived.notify_all();
    }

    // The next message, or nothing when none came before the deadline.
    std::optional<win::Message> next(std::chrono::milliseconds wait = std::chrono::seconds(10)) {
        std::unique_lock lock(m_mutex);
        if (!m_arrived.wait_for(lock, wait, [this] { return !m_queue.empty(); }))
            return std::nullopt;
        win::Message message = m_queue.front();
        m_queue.pop_front();
        return message;
    }

    // Proves an absence: true when nothing arrives within `quiet`.
    bool staysQuiet(std::chrono::milliseconds quiet = std::chrono::milliseconds(300)) {
        std::unique_lock lock(m_mutex);
        return !m_arrived.wait_for(lock, quiet, [this] { return !m_queue.empty(); });
    }

    // Watches for `period` (a deliberate observation window, used to show that
    // nothing arrives late) and returns what came, with what was already queued.
    std::vector<win::Message> drainFor(std::chrono::milliseconds period) {
        std::unique_lock lock(m_mutex);
        const auto until = Clock::now() + period;
        while (m_arrived.wait_until(lock, until) != std::cv_status::timeout) {}
        std::vector<win::Message> all(m_queue.begin(), m_queue.end());
        m_queue.clear();
        return all;
    }

    // Every message queued so far.
    std::vector<win::Message> drain() {
        std::lock_guard lock(m_mutex);
        std::vector<win::Message> all(m_queue.begin(), m_queue.end());
        m_queue.clear();
        return all;
    }

    // From now on any post counts as late (the window is gone).
    void markClosed() { m_closed.store(true); }
    // Any post for this socket life counts as late.
    void forbidStamp(std::uint64_t stamp) {
        std::lock_guard lock(m_mutex);
        m_forbidden = stamp;
    }
    int latePosts() const { return m_latePosts.load(); }

private:
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<win::Message> m_queue;
    std::atomic<bool> m_closed{false};
    std::uint64_t m_forbidden = 0;
    std::atomic<int> m_latePosts{0};
};
