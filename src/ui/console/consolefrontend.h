#pragma once
#include "ui/console/consoleanswers.h"
#include "ui/console/consoleoutput.h"
#include "ui/eventrecorder.h"

namespace ui {

// The headless front end: reports every change of every window, every box and
// menu with the answer the script gave, and sound cues and beeps instead of
// playing them, as lines of its output.
class ConsoleFrontEnd : public EventRecorder {
public:
    explicit ConsoleFrontEnd(ConsoleOutput& output);

    void queueBoxAnswer(const std::string& answer) { m_answers.queueBoxAnswer(answer); }
    void queuePopupChoice(int choice) { m_answers.queuePopupChoice(choice); }

    ConsoleOutput& output() { return m_output; }

private:
    ConsoleOutput& m_output;
    // Made after the recorder, which only keeps a reference to it until then.
    ConsoleAnswers m_answers;
};

} // namespace ui
