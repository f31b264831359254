#pragma once
#include "ui/event.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace ui {

// Events on their way to a writer thread of their own: the window that reports
// one only copies it (and the moment it happened) into a slot, and the writer
// encodes and writes them in the order they came, so a busy window does not pay
// for JSON. Nothing is dropped: when the writer falls behind by `capacity` events,
// whoever reports waits for room.
//
// The slots are reused, their strings keeping what they had grown to, so a steady
// flood copies without allocating. The writer is woken only when the queue stops
// being empty, when it is half full, or when someone waits for it, and otherwise
// gathers for a few milliseconds: one write and one wake-up for many events.
class EventQueue {
public:
    using Clock = std::chrono::system_clock;
    // On the writer thread: `encode` for each event in order, then `write` once the
    // events at hand are encoded.
    using Encode = std::function<void(const Event&, Clock::time_point)>;
    using Write = std::function<void()>;

    EventQueue(Encode encode, Write write, std::size_t capacity = 1024);
    // Writes what is still queued before the thread ends.
    ~EventQueue();
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    // From any thread; waits while the queue is full.
    void push(const Event& event, Clock::time_point when);
    // Returns once every event pushed before the call is written.
    void drain();

private:
    struct Slot;
    void run();

    const Encode m_encode;
    const Write m_write;
    const std::size_t m_capacity;
    std::unique_ptr<Slot[]> m_slots;

    std::mutex m_mutex;
    std::condition_variable m_wake;     // the writer's
    std::condition_variable m_progress; // for those waiting on room or on a drain
    std::size_t m_head = 0;             // the oldest unwritten slot
    std::size_t m_count = 0;            // slots in use from m_head on
    unsigned long long m_pushed = 0, m_written = 0;
    int m_waiting = 0; // threads waiting on m_progress
    enum class State { Idle, Gathering, Busy } m_state = State::Busy;
    bool m_hurry = false;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace ui
