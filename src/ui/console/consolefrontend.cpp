#include "ui/console/consolefrontend.h"

namespace ui {

ConsoleFrontEnd::ConsoleFrontEnd(ConsoleOutput& output)
    : EventRecorder(m_answers, output), m_output(output), m_answers(output) {}

} // namespace ui
