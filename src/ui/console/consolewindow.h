#pragma once
#include "ui/windowmodel.h"

#include <map>
#include <string>

namespace ui {

class ConsoleOutput;

// Prints the tool's changes to one window's model as console lines.
class ConsoleWindow : public ModelObserver {
public:
    ConsoleWindow(ConsoleOutput& output, std::string name);
    void modelChanged(const Change& change) override;

private:
    ConsoleOutput& m_output;
    std::string m_name;
    std::map<int, std::string> m_shown; // each field's text as last printed or typed
};

} // namespace ui
