#include "ui/console/consolefrontend.h"

#include "ui/console/consolewindow.h"
#include "ui/toolwindow.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace ui {

ConsoleFrontEnd::ConsoleFrontEnd(ConsoleOutput& output) : m_output(output) {}

ConsoleFrontEnd::~ConsoleFrontEnd() = default;

void ConsoleFrontEnd::windowOpened(const std::shared_ptr<ToolWindow>& window) {
    auto observer =
        std::make_unique<ConsoleWindow>(m_output, window->name(), &window->definition());
    window->model().addObserver(observer.get());
    {
        std::lock_guard lock(m_mutex);
        m_windows[window.get()] = std::move(observer);
    }
    m_output.print(window->name(), "open");
}

void ConsoleFrontEnd::windowClosed(ToolWindow& window) {
    std::unique_ptr<ConsoleWindow> observer;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_windows.find(&window);
        if (it != m_windows.end()) {
            observer = std::move(it->second);
            m_windows.erase(it);
        }
    }
    if (observer) window.model().removeObserver(observer.get());
    m_output.print(window.name(), "closed");
}

int ConsoleFrontEnd::messageBox(ToolWindow& window, const BoxRequest& request) {
    m_output.printUtf8(window.name(), "box",
                       ConsoleOutput::escape(request.caption) + "\t" + boxIconName(request.icon) +
                           "\t" + ConsoleOutput::escape(request.text));
    const std::vector<int> answers = boxAnswers(request.buttons);
    int answer = answers.front();
    std::string wanted;
    {
        std::lock_guard lock(m_mutex);
        if (!m_boxAnswers.empty()) {
            wanted = m_boxAnswers.front();
            m_boxAnswers.pop_front();
        }
    }
    if (!wanted.empty()) {
        const bool numeric = wanted.find_first_not_of("0123456789") == std::string::npos;
        if (numeric) {
            const std::size_t index = std::stoul(wanted);
            if (index >= 1 && index <= answers.size()) answer = answers[index - 1];
        } else {
            for (int a : answers)
                if (wanted == boxAnswerLabel(a)) answer = a;
        }
    }
    m_output.print(window.name(), "answer", boxAnswerLabel(answer));
    return answer;
}

int ConsoleFrontEnd::popupMenu(ToolWindow& window, const std::string& items) {
    m_output.print(window.name(), "menu", items);
    int choice = 0;
    {
        std::lock_guard lock(m_mutex);
        if (!m_popupChoices.empty()) {
            choice = m_popupChoices.front();
            m_popupChoices.pop_front();
        }
    }
    if (choice < 0 || choice > popupItemCount(items)) choice = 0;
    m_output.print(window.name(), "chosen", std::to_string(choice));
    return choice;
}

void ConsoleFrontEnd::beep(ToolWindow* window) {
    m_output.print(window ? window->name() : std::string("-"), "beep");
}

void ConsoleFrontEnd::playSound(ToolWindow* window, const std::string& file) {
    m_output.print(window ? window->name() : std::string("-"), "cue", file);
}

void ConsoleFrontEnd::standardAction(ToolWindow&, StandardAction) {
    // Cut, paste, tiling and printer set-up have nothing to act on without a screen.
}

void ConsoleFrontEnd::bringToFront(ToolWindow& window) {
    // No screen to arrange, but a script may want to know it was asked for.
    m_output.print(window.name(), "front");
}

void ConsoleFrontEnd::allClosed() {
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] { QCoreApplication::quit(); },
                              Qt::QueuedConnection);
}

void ConsoleFrontEnd::flushOutput() {
    m_output.flush();
}

void ConsoleFrontEnd::queueBoxAnswer(const std::string& answer) {
    std::lock_guard lock(m_mutex);
    m_boxAnswers.push_back(answer);
}

void ConsoleFrontEnd::queuePopupChoice(int choice) {
    std::lock_guard lock(m_mutex);
    m_popupChoices.push_back(choice);
}

} // namespace ui
