#pragma once
#include <atomic>
#include <istream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace ui {

class ConsoleFrontEnd;
class ConsoleOutput;
class Desktop;
class ToolWindow;

// Runs a headless script, one command a line, on a thread of its own. A command
// addressed to a window runs through that window's event loop after everything
// already queued for it; press, menu and close return once the handler has.
class ScriptDriver {
public:
    ScriptDriver(Desktop& desktop, ConsoleFrontEnd& frontEnd, ConsoleOutput& output);
    ~ScriptDriver();

    // Takes ownership of the stream and starts reading it.
    void start(std::unique_ptr<std::istream> script);
    void join();
    // Runs one command line; false when the line was not understood.
    bool execute(const std::string& line);
    bool quitRequested() const { return m_quit; }
    // The script has been read to its end (or to `quit`): join() returns at once.
    bool finished() const { return m_finished; }

    // The commands, as `--help` lists them.
    static const char* help();
    // Splits a line into words; double quotes keep blanks inside one word.
    static std::vector<std::string> split(const std::string& line);

private:
    void run();
    std::shared_ptr<ToolWindow> window(const std::string& name);
    int controlNumber(ToolWindow& window, const std::string& word);
    void error(const std::string& what);

    Desktop& m_desktop;
    ConsoleFrontEnd& m_frontEnd;
    ConsoleOutput& m_output;
    std::unique_ptr<std::istream> m_script;
    std::thread m_thread;
    std::atomic<bool> m_quit{false};
    std::atomic<bool> m_finished{false};
    int m_lineNumber = 0;
};

} // namespace ui
