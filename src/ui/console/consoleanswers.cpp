#include "ui/console/consoleanswers.h"

#include "ui/console/consoleoutput.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace ui {

ConsoleAnswers::ConsoleAnswers(ConsoleOutput& output) : m_output(output) {}

int ConsoleAnswers::messageBox(ToolWindow&, const BoxRequest& request) {
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
    return answer;
}

int ConsoleAnswers::popupMenu(ToolWindow&, const std::string& items) {
    int choice = 0;
    {
        std::lock_guard lock(m_mutex);
        if (!m_popupChoices.empty()) {
            choice = m_popupChoices.front();
            m_popupChoices.pop_front();
        }
    }
    if (choice < 0 || choice > popupItemCount(items)) choice = 0;
    return choice;
}

void ConsoleAnswers::allClosed() {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
}

void ConsoleAnswers::flushOutput(bool waited) {
    if (waited)
        m_output.flush();
    else
        m_output.flushBatch();
}

void ConsoleAnswers::queueBoxAnswer(const std::string& answer) {
    std::lock_guard lock(m_mutex);
    m_boxAnswers.push_back(answer);
}

void ConsoleAnswers::queuePopupChoice(int choice) {
    std::lock_guard lock(m_mutex);
    m_popupChoices.push_back(choice);
}

} // namespace ui
