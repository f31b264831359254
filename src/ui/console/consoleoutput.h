#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

// The headless output: one line per change, "<window> <event> <payload>", in
// UTF-8 with control characters escaped, so one change is always one line. While a
// script runs it also keeps each window's lines for `waitfor`.
//
// Lines printed by a window's handlers are gathered and written together when the
// window's batch of handlers is over (flush()), so a flood of changes costs one
// write per batch rather than one per line; lines from anywhere else are written at
// once. Either way every line keeps its place: there is one order for all windows.
class ConsoleOutput {
public:
    explicit ConsoleOutput(std::FILE* out = stdout);
    ~ConsoleOutput();
    ConsoleOutput(const ConsoleOutput&) = delete;
    ConsoleOutput& operator=(const ConsoleOutput&) = delete;

    // `payload` is Windows-1250 text; it is escaped and converted here.
    void print(const std::string& window, const std::string& event, const std::string& payload = {});
    // A line that is already UTF-8 (the script's own words).
    void printUtf8(const std::string& window, const std::string& event, const std::string& payload);
    // A list row: its Windows-1250 columns escaped, converted and joined by tabs.
    void printRow(const std::string& window, const std::string& event,
                  const std::vector<std::string>& columns);
    // Writes the lines gathered so far.
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
    void emit(const std::string& window, const std::string& line);
    void writePending();

    std::FILE* m_out;
    std::mutex m_mutex;
    std::condition_variable m_printed;
    std::string m_pending; // gathered lines, each with its newline
    std::chrono::steady_clock::time_point m_pendingSince;
    bool m_keepHistory = false;
    struct History {
        std::vector<std::string> lines; // lines after `consumed`
    };
    std::map<std::string, History> m_history;
};

} // namespace ui
