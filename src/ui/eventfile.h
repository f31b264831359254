#pragma once
#include "ui/event.h"

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace ui {

// The file --events names: JSON lines appended from any thread. Log rotation
// renames the file and then asks for it to be opened again (SIGUSR1), so lines
// written meanwhile land in the renamed file and none is lost.
class EventQueue;

class EventFile : public EventSink {
public:
    EventFile();
    ~EventFile() override;
    EventFile(const EventFile&) = delete;
    EventFile& operator=(const EventFile&) = delete;

    // Opens the file for appending, made if missing; the system's reason when it
    // cannot be opened.
    std::string open(const std::string& path);
    // Opens the same name again; on failure the file open so far stays in use.
    std::string reopen();
    // Whole lines, each with its newline; false when they could not all be written.
    bool write(std::string_view lines);
    // One event as a JSON line (the Qt front end's events), made and written by a
    // writer thread of the file's own, in the order the events came.
    void report(const Event& event) override;
    const std::string& path() const { return m_path; }

private:
    std::mutex m_mutex;
    std::string m_path;
    int m_fd = -1;
    std::once_flag m_started;
    std::string m_encoded; // the writer thread's
    std::unique_ptr<EventQueue> m_queue;
};

} // namespace ui
