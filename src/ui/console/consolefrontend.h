#pragma once
#include "ui/console/consoleoutput.h"
#include "ui/frontend.h"

#include <deque>
#include <map>
#include <memory>
#include <mutex>

namespace ui {

class ConsoleWindow;

// The headless front end: prints every change of every window, answers message
// boxes and popup menus as the script said (default: a box's first button, a
// menu dismissed), and prints sound cues and beeps instead of playing them.
class ConsoleFrontEnd : public FrontEnd {
public:
    explicit ConsoleFrontEnd(ConsoleOutput& output);
    ~ConsoleFrontEnd() override;

    void windowOpened(const std::shared_ptr<ToolWindow>& window) override;
    void windowClosed(ToolWindow& window) override;
    int messageBox(ToolWindow& window, const BoxRequest& request) override;
    int popupMenu(ToolWindow& window, const std::string& items) override;
    void beep(ToolWindow* window) override;
    void playSound(ToolWindow* window, const std::string& file) override;
    void standardAction(ToolWindow& frame, StandardAction action) override;
    void bringToFront(ToolWindow& window) override;
    void allClosed() override;
    void flushOutput() override;

    // The answer for the next message box: a button's position (1 = first) or
    // its label. The answer for the next popup menu: an entry number, 0 = none.
    void queueBoxAnswer(const std::string& answer);
    void queuePopupChoice(int choice);

    ConsoleOutput& output() { return m_output; }

private:
    ConsoleOutput& m_output;
    std::mutex m_mutex;
    std::map<ToolWindow*, std::unique_ptr<ConsoleWindow>> m_windows;
    std::deque<std::string> m_boxAnswers;
    std::deque<int> m_popupChoices;
};

} // namespace ui
