#pragma once
#include <atomic>
#include <string>

namespace ui {

// The lines of a script read from a descriptor: a file, or standard input that a
// person or another program feeds at its own pace. A read that waits for more
// input can be cancelled from another thread, so the program never has to leave
// a script's thread behind when it ends.
class ScriptInput {
public:
    enum class Result { Line, TooLong, End };
    static constexpr std::size_t LongestLine = 65536;

    // `owned`: the descriptor is closed with the input (not so standard input).
    ScriptInput(int fd, bool owned);
    ~ScriptInput();
    ScriptInput(const ScriptInput&) = delete;
    ScriptInput& operator=(const ScriptInput&) = delete;

    // The next line without its line feed. A line longer than LongestLine is
    // skipped whole and reported as TooLong. End: the input ended, failed (see
    // failed()) or was cancelled; a last line without a line feed still counts.
    Result readLine(std::string& line);
    // Any thread: a waiting or later readLine returns End.
    void cancel();
    bool failed() const { return m_failed; }

private:
    bool fill();

    int m_fd;
    bool m_owned;
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_cancelled{false};
    std::string m_buffer;
    bool m_ended = false;
    bool m_failed = false;
};

} // namespace ui
