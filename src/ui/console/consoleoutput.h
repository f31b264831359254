#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace ui {

// The headless output: one line per change, "<window> <event> <payload>", in
// UTF-8 with control characters escaped, so one change is always one line. While a
// script runs it also keeps each window's lines for `waitfor`.
class ConsoleOutput {
public:
    explicit ConsoleOutput(std::FILE* out = stdout);

    // `payload` is Windows-1250 text; it is escaped and converted here.
    void print(const std::string& window, const std::string& event, const std::string& payload = {});
    // A line that is already UTF-8 (the script's own words).
    void printUtf8(const std::string& window, const std::string& event, const std::string& payload);

    void keepHistory(bool keep);
    // Waits for a line of `window`, printed after the one the previous wait on that
    // window matched, that contains `text`. False after the time-out.
    bool waitFor(const std::string& window, const std::string& text,
                 std::chrono::milliseconds timeout);

    // Windows-1250 text as printed: control characters as \r \n \t \xNN, "\" as "\\".
    static std::string escape(const std::string& cp1250);

private:
    void emit(const std::string& window, const std::string& line);

    std::FILE* m_out;
    std::mutex m_mutex;
    std::condition_variable m_printed;
    bool m_keepHistory = false;
    struct History {
        std::vector<std::string> lines; // lines after `consumed`
    };
    std::map<std::string, History> m_history;
};

} // namespace ui
