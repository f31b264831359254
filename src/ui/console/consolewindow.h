#pragma once
#include "ui/windowmodel.h"

#include <map>
#include <string>

namespace ui {

class ConsoleOutput;

// Prints the tool's changes to one window's model as console lines.
class ConsoleWindow : public ModelObserver {
public:
    // The definition tells which controls are picture areas: what a tool puts in
    // one is a picture file, printed as "picture <file>".
    ConsoleWindow(ConsoleOutput& output, std::string name,
                  const WindowDefinition* definition = nullptr);
    void modelChanged(const Change& change) override;

private:
    ConsoleOutput& m_output;
    std::string m_name;
    std::map<int, std::string> m_shown; // each field's text as last printed or typed
    const WindowDefinition* m_definition;
};

} // namespace ui
