#pragma once
#include "ui/frontend.h"

#include <deque>
#include <mutex>

namespace ui {

class ConsoleOutput;

// What stands in for the person without a screen: answers message boxes and
// popup menus as the script said (default: a box's first button, a menu
// dismissed) and shows nothing; the console front end reports what it was asked.
class ConsoleAnswers : public FrontEnd {
public:
    explicit ConsoleAnswers(ConsoleOutput& output);

    void windowOpened(const std::shared_ptr<ToolWindow>&) override {}
    void windowClosed(ToolWindow&) override {}
    int messageBox(ToolWindow& window, const BoxRequest& request) override;
    int popupMenu(ToolWindow& window, const std::string& items) override;
    void beep(ToolWindow*) override {}
    void playSound(ToolWindow*, const std::string&) override {}
    // Cut, paste, tiling and printer set-up have nothing to act on without a screen.
    void standardAction(ToolWindow&, StandardAction) override {}
    void allClosed() override;
    void flushOutput(bool waited) override;

    // The answer for the next message box: a button's position (1 = first) or
    // its label. The answer for the next popup menu: an entry number, 0 = none.
    void queueBoxAnswer(const std::string& answer);
    void queuePopupChoice(int choice);

private:
    ConsoleOutput& m_output;
    std::mutex m_mutex;
    std::deque<std::string> m_boxAnswers;
    std::deque<int> m_popupChoices;
};

} // namespace ui
