#pragma once
#include "ui/windowmodel.h"

#include <map>
#include <string>

namespace ui {

class EventSink;

// Reports the tool's changes to one window's model as events.
class EventWindow : public ModelObserver {
public:
    // The definition tells which controls are picture areas: what a tool puts in
    // one is a picture file, reported as a picture event.
    EventWindow(EventSink& sink, std::string name, const WindowDefinition* definition = nullptr);
    void modelChanged(const Change& change) override;

private:
    EventSink& m_sink;
    std::string m_name;
    std::map<int, std::string> m_shown; // each field's text as last reported or typed
    const WindowDefinition* m_definition;
};

} // namespace ui
