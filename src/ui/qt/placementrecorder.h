#pragma once
#include "ui/qt/dialogunits.h"
#include "ui/windowmodel.h"

#include <QRect>
#include <QSize>
#include <functional>

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

    // Where placements must fit (the screen for the frame, the frame's client area
    // for a tool window; an invalid rectangle while it is not known yet), and the
    // size the window's controls need, below which fitting never shrinks it.
    void setBounds(std::function<QRect()> bounds, std::function<QSize()> needed);

    void apply(const Placement& placement);
    // A rectangle fitted into the bounds: shrunk to them where it is larger (but
    // not below the needed size), then moved inside them.
    QRect fitted(QRect rect) const;
    // Geometry given by the frame's Tile or Cascade: shown, but its size is not
    // the person's, so the placement keeps the size it had until the person
    // resizes the window.
    void arrange(const QRect& rect);
    // Called from the widget's move, resize and state-change events.
    void record();
    void setEnabled(bool enabled) { m_enabled = enabled; }
    // The widget's place: a child's geometry; a window's outer corner and its size.
    QRect placed() const;
    void place(const QRect& rect);

private:
    QWidget& m_widget;
    WindowModel& m_model;
    DialogUnits m_units;
    std::function<QRect()> m_bounds;
    std::function<QSize()> m_needed;
    QRect m_normal;
    Placement m_last;
    bool m_applying = false;
    bool m_enabled = false;
    bool m_arranged = false;
    QSize m_arrangedSize; // pixels, as Tile or Cascade gave it
    QSize m_keptSize;     // dialog units, the placement's size before
};

} // namespace ui
