#pragma once
#include "ui/qt/dialogunits.h"
#include "ui/windowmodel.h"

#include <QRect>

class QWidget;

namespace ui {

// Keeps a window's geometry and its model's placement in step: the tool's
// placement is applied in dialog units, and what the person does to the window
// (moves, resizes, minimises, maximises) is written back, so the framework can
// save it when the window closes. A minimised or maximised window keeps its
// normal rectangle, which is what a later restore brings back.
class PlacementRecorder {
public:
    PlacementRecorder(QWidget& widget, WindowModel& model, const DialogUnits& units);

    void apply(const Placement& placement);
    // Called from the widget's move, resize and state-change events.
    void record();
    void setEnabled(bool enabled) { m_enabled = enabled; }

private:
    QWidget& m_widget;
    WindowModel& m_model;
    DialogUnits m_units;
    QRect m_normal;
    Placement m_last;
    bool m_applying = false;
    bool m_enabled = false;
};

} // namespace ui
