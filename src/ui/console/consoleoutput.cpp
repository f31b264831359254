#include "ui/console/consoleoutput.h"

#include "platform/cp1250.h"

namespace ui {

ConsoleOutput::ConsoleOutput(std::FILE* out) : m_out(out) {}

std::string ConsoleOutput::escape(const std::string& in) {
    std::string out;
    out.reserve(in.size());
    static const char* hex = "0123456789ABCDEF";
    for (unsigned char ch : in) {
        switch (ch) {
        case '\\': out += "\\\\"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            if (ch < 0x20 || ch == 0x7F) {
                out += "\\x";
                out += hex[ch >> 4];
                out += hex[ch & 15];
            } else {
                out += static_cast<char>(ch);
            }
        }
    }
    return cp1250::toUtf8(out);
}

void ConsoleOutput::print(const std::string& window, const std::string& event,
                          const std::string& payload) {
    std::string line = window + " " + event;
    if (!payload.empty()) line += " " + escape(payload);
    emit(window, line);
}

void ConsoleOutput::printUtf8(const std::string& window, const std::string& event,
                              const std::string& payload) {
    std::string line = window + " " + event;
    if (!payload.empty()) line += " " + payload;
    emit(window, line);
}

void ConsoleOutput::emit(const std::string& window, const std::string& line) {
    {
        std::lock_guard lock(m_mutex);
        std::fwrite(line.data(), 1, line.size(), m_out);
        std::fputc('\n', m_out);
        std::fflush(m_out);
        if (m_keepHistory) {
            auto& lines = m_history[window].lines;
            lines.push_back(line);
            // A window nobody waits on must not grow without end (a trap running
            // for hours): its oldest unread lines go first.
            constexpr std::size_t kMaxLines = 200000;
            if (lines.size() > kMaxLines) lines.erase(lines.begin(), lines.begin() + kMaxLines / 2);
        }
    }
    m_printed.notify_all();
}

void ConsoleOutput::keepHistory(bool keep) {
    std::lock_guard lock(m_mutex);
    m_keepHistory = keep;
    if (!keep) m_history.clear();
}

bool ConsoleOutput::waitFor(const std::string& window, const std::string& text,
                            std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(m_mutex);
    std::size_t searched = 0;
    for (;;) {
        auto& lines = m_history[window].lines;
        for (; searched < lines.size(); ++searched) {
            if (lines[searched].find(text) != std::string::npos) {
                // The next wait on this window looks only after this line.
                lines.erase(lines.begin(), lines.begin() + static_cast<long>(searched) + 1);
                return true;
            }
        }
        if (m_printed.wait_until(lock, deadline) == std::cv_status::timeout) {
            // One last look at what arrived with the deadline.
            auto& late = m_history[window].lines;
            for (; searched < late.size(); ++searched)
                if (late[searched].find(text) != std::string::npos) {
                    late.erase(late.begin(), late.begin() + static_cast<long>(searched) + 1);
                    return true;
                }
            return false;
        }
    }
}

} // namespace ui
