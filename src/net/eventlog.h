#pragma once
#include <ctime>
#include <string>

namespace ui {
class WindowModel;
}

namespace net {

// A tool's time-stamped log: the rows (time, text) of one of its list controls.
class EventLog {
public:
    // How a tool keeps its log from growing.
    enum class Limit {
        None,           // local port check, TCP/UDP client
        EmptyAt250,     // port blockers, TCP and UDP servers: empty after the 250th append
        EmptyAt300,     // HTTP server: the same at 300
        EmptyBefore250, // HTTP client: empty before appending to a full list
    };

    EventLog(ui::WindowModel& model, int control, int width, Limit limit, bool redraw = false);

    // AddLogLine: appends (now, text without trailing blanks, cut to the width)
    // and applies the limit.
    void add(const std::string& text);
    // A line appended as it is, without the limit (error reports, received data).
    void addDirect(const std::string& text);
    // A line whose first column is given instead of the time.
    void addMarked(const std::string& mark, const std::string& text);
    void clear();
    std::size_t size() const;
    int width() const { return m_width; }

    // "dd.mm.yyyy hh:mm:ss" in local time.
    static std::string timeStamp(std::time_t when);

private:
    void append(const std::string& first, const std::string& text);

    ui::WindowModel& m_model;
    int m_control;
    int m_width;
    Limit m_limit;
    bool m_redraw;
};

} // namespace net
