#include "ui/eventqueue.h"

#include "ui/windowmodel.h"

#include <string>
#include <vector>

namespace ui {
namespace {

// How long the writer lets events gather once the first has come: lines reach
// the output this much later at most, and a flood costs one write per gathering.
constexpr auto kGather = std::chrono::milliseconds(5);
// A slot that once held a long event gives its memory back rather than keeping
// it for the many short ones that follow.
constexpr std::size_t kKeepBytes = 4096;

void trim(std::string& s) {
    if (s.capacity() > kKeepBytes) std::string().swap(s);
}

} // namespace

// An owning copy of an event: what Event only points at lives here until the
// writer is done with it.
struct EventQueue::Slot {
    Event::Kind kind = Event::Kind::Open;
    std::string window, text, detail, word;
    int control = 0;
    long long number = 0;
    bool flag = false;
    bool hasCells = false, hasSample = false, hasFigures = false;
    std::vector<std::string> cells;
    Sample sample;
    std::vector<ReportCell> figures;
    Clock::time_point when;

    void fill(const Event& e, Clock::time_point at) {
        kind = e.kind;
        window.assign(e.window);
        text.assign(e.text);
        detail.assign(e.detail);
        word.assign(e.word);
        control = e.control;
        number = e.number;
        flag = e.flag;
        hasCells = e.cells != nullptr;
        if (hasCells) cells = *e.cells;
        hasSample = e.sample != nullptr;
        if (hasSample) sample = *e.sample;
        hasFigures = e.figures != nullptr;
        if (hasFigures) figures = *e.figures;
        when = at;
    }

    Event event() const {
        Event e{kind, window};
        e.control = control;
        e.number = number;
        e.flag = flag;
        e.text = text;
        e.detail = detail;
        e.word = word;
        if (hasCells) e.cells = &cells;
        if (hasSample) e.sample = &sample;
        if (hasFigures) e.figures = &figures;
        return e;
    }

    void shrink() {
        for (std::string* s : {&text, &detail, &word})
            trim(*s);
        for (std::string& cell : cells)
            trim(cell);
        if (cells.capacity() > 64) std::vector<std::string>().swap(cells);
        if (figures.capacity() > 64) std::vector<ReportCell>().swap(figures);
    }
};

EventQueue::EventQueue(Encode encode, Write write, std::size_t capacity)
    : m_encode(std::move(encode)), m_write(std::move(write)), m_capacity(capacity),
      m_slots(std::make_unique<Slot[]>(capacity)) {
    m_thread = std::thread([this] { run(); });
}

EventQueue::~EventQueue() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void EventQueue::push(const Event& event, Clock::time_point when) {
    std::unique_lock lock(m_mutex);
    if (m_count == m_capacity) {
        ++m_waiting;
        m_progress.wait(lock, [&] { return m_count < m_capacity; });
        --m_waiting;
    }
    m_slots[(m_head + m_count) % m_capacity].fill(event, when);
    ++m_count;
    ++m_pushed;
    // A wake-up costs the reporting thread a system call: only when the writer
    // sleeps with nothing to do, or it should stop gathering and write.
    bool wake = false;
    if (m_state == State::Idle) {
        m_state = State::Gathering;
        wake = true;
    } else if (m_state == State::Gathering && m_count == m_capacity / 2) {
        wake = true;
    }
    lock.unlock();
    if (wake) m_wake.notify_one();
}

void EventQueue::drain() {
    std::unique_lock lock(m_mutex);
    const unsigned long long target = m_pushed;
    if (m_written >= target) return;
    m_hurry = true;
    m_wake.notify_one();
    ++m_waiting;
    m_progress.wait(lock, [&] { return m_written >= target; });
    --m_waiting;
}

void EventQueue::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_state = State::Idle;
        m_wake.wait(lock, [&] { return m_count > 0 || m_stopping; });
        if (m_count == 0) return;
        m_state = State::Gathering;
        m_wake.wait_for(lock, kGather,
                        [&] { return m_hurry || m_stopping || m_count >= m_capacity / 2; });
        m_state = State::Busy;
        // The slots taken are the writer's alone until they are given back: those
        // who report fill only the free ones meanwhile.
        while (m_count > 0) {
            const std::size_t first = m_head, n = m_count;
            lock.unlock();
            for (std::size_t i = 0; i < n; ++i) {
                Slot& slot = m_slots[(first + i) % m_capacity];
                m_encode(slot.event(), slot.when);
                slot.shrink();
            }
            m_write();
            lock.lock();
            m_head = (first + n) % m_capacity;
            m_count -= n;
            m_written += n;
            if (m_waiting > 0) m_progress.notify_all();
        }
        m_hurry = false;
    }
}

} // namespace ui
