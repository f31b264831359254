#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <istream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ui {

class ConsoleFrontEnd;
class ConsoleOutput;
class Desktop;
class ScriptInput;
class ToolWindow;

// Runs a headless script, one command a line, on a thread of its own. A command
// addressed to a window runs through that window's event loop after everything
// already queued for it; press, menu and close return once the handler has.
// A command that is refused, fails or times out is counted, and the script goes
// on to its end.
class ScriptDriver {
public:
    ScriptDriver(Desktop& desktop, ConsoleFrontEnd& frontEnd, ConsoleOutput& output);
    ~ScriptDriver();
    ScriptDriver(const ScriptDriver&) = delete;
    ScriptDriver& operator=(const ScriptDriver&) = delete;

    // Takes ownership of the script and starts reading it on the driver's thread.
    void start(std::unique_ptr<std::istream> script);
    void start(std::unique_ptr<ScriptInput> script);
    // Any thread: ends every wait of the script (for input, a window, a line, a
    // pause); the thread ends after the command it is in. The program calls it
    // when it ends, so it can join the thread rather than leave it running.
    void stop();
    void join();
    // Runs one command line; false when it was refused, failed or timed out.
    bool execute(const std::string& line);
    bool quitRequested() const { return m_quit; }
    // How many commands were refused, failed or timed out.
    int failures() const { return m_failures; }

    // The commands, as `--help` lists them.
    static const char* help();
    // Splits a line into words; double quotes keep blanks inside one word.
    static std::vector<std::string> split(const std::string& line);

private:
    struct Command;
    void run();
    bool perform(const std::string& line);
    bool open(const Command& c);
    bool menu(const Command& c);
    bool setOrPress(const Command& c);
    bool answer(const Command& c);
    bool choose(const Command& c);
    bool pause(const Command& c);
    bool waitFor(const Command& c);
    bool dump(const Command& c);
    bool save(const Command& c);
    bool close(const Command& c);
    bool quit();

    std::shared_ptr<ToolWindow> window(const std::string& name);
    // The control a word names (its number or its label); 0 after an error line.
    int controlNumber(ToolWindow& window, const std::string& word);
    bool error(const std::string& what);
    // Sleeps, ending early when the driver is stopped; false then.
    bool sleepFor(std::chrono::milliseconds time);

    Desktop& m_desktop;
    ConsoleFrontEnd& m_frontEnd;
    ConsoleOutput& m_output;
    std::unique_ptr<std::istream> m_stream;
    std::unique_ptr<ScriptInput> m_input;
    std::thread m_thread;
    std::atomic<bool> m_quit{false};
    std::atomic<bool> m_stopping{false};
    std::mutex m_stopMutex;
    std::condition_variable m_stopped;
    std::atomic<int> m_failures{0};
    int m_lineNumber = 0;
};

} // namespace ui
