#pragma once
#include "ui/event.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

// The headless output: one line per event, "<window> <event> <payload>", in
// UTF-8 with control characters escaped, so one change is always one line; or,
// for machines, one JSON object per event. Every event may also go to an events
// file as a JSON line. While a script runs it also keeps each window's text lines
// for `waitfor`.
//
// Lines printed by a window's handlers are gathered and written together when the
// window's batch of handlers is over (flushBatch()), so a flood of changes costs one
// write per batch rather than one per line; lines from anywhere else are written at
// once. Either way every line keeps its place: there is one order for all windows.
//
// JSON objects on stdout are made and written as the text lines are. The events
// file's are made and written by a writer thread of its own (EventQueue), in the
// order the events were reported: the reporting window only copies the event, so
// a slow disk does not hold it up.
class EventFile;
class EventQueue;

class ConsoleOutput : public EventSink {
public:
    explicit ConsoleOutput(std::FILE* out = stdout);
    ~ConsoleOutput() override;
    ConsoleOutput(const ConsoleOutput&) = delete;
    ConsoleOutput& operator=(const ConsoleOutput&) = delete;

    // Both are set before any window opens. JSON objects rather than text lines
    // (--json); and every event also appended to `file` as a JSON line (--events).
    void setJson(bool json);
    void setEventFile(EventFile* file);

    void report(const Event& event) override;
    // Writes the lines gathered so far; the events file's writer writes on its own.
    void flushBatch();
    // Writes the lines gathered so far and waits until every event reported before
    // is in the events file: whoever reads the output next finds them there.
    void flush();

    void keepHistory(bool keep);
    // Waits for a line of `window`, printed after the one the previous wait on that
    // window matched, that contains `text`. False after the time-out.
    bool waitFor(const std::string& window, const std::string& text,
                 std::chrono::milliseconds timeout);

    // Windows-1250 text as printed: control characters (C1 included) as \r \n \t
    // \xNN, "\" as "\\", the rest in UTF-8.
    static std::string escape(const std::string& cp1250);
    static void appendEscaped(std::string& out, std::string_view cp1250);

private:
    void writePending();
    void writeEncoded();

    std::FILE* m_out;
    std::mutex m_mutex;
    std::condition_variable m_printed;
    bool m_json = false;
    EventFile* m_file = nullptr;
    std::string m_pending; // gathered lines or objects, each with its newline
    std::string m_encoded; // the events file's writer's lines, its own
    std::chrono::steady_clock::time_point m_pendingSince;
    std::atomic<bool> m_keepHistory{false};
    struct History {
        std::vector<std::string> lines; // lines after the one the last wait matched
        // What the last wait that ran out looked for, and how many of `lines` it
        // looked at: a script waits in slices, and each slice goes on from there.
        std::string searchedFor;
        std::size_t searched = 0;
    };
    std::map<std::string, History> m_history;
    // The waits under way: a line wakes a waiter only when it is what it waits for.
    struct Wait {
        const std::string& window;
        const std::string& text;
    };
    std::vector<const Wait*> m_waits;
    std::unique_ptr<EventQueue> m_queue; // once there is an events file
};

} // namespace ui
