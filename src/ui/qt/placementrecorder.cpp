#include "ui/qt/placementrecorder.h"

#include <QWidget>

namespace ui {

PlacementRecorder::PlacementRecorder(QWidget& widget, WindowModel& model, const DialogUnits& units)
    : m_widget(widget), m_model(model), m_units(units) {}

void PlacementRecorder::apply(const Placement& p) {
    m_applying = true;
    QRect rect = m_units.toPixels(p);
    // A placement without a size keeps the present one.
    if (p.width <= 0 || p.height <= 0) rect.setSize(m_widget.size());
    if (m_widget.windowState() & (Qt::WindowMinimized | Qt::WindowMaximized))
        m_widget.setWindowState(Qt::WindowNoState);
    m_widget.setGeometry(rect);
    m_normal = rect;
    if (p.minimized)
        m_widget.setWindowState(Qt::WindowMinimized);
    else if (p.maximized)
        m_widget.setWindowState(Qt::WindowMaximized);
    m_last = p;
    m_applying = false;
}

void PlacementRecorder::record() {
    if (m_applying || !m_enabled || !m_widget.isVisible()) return;
    const Qt::WindowStates state = m_widget.windowState();
    const bool minimized = state & Qt::WindowMinimized;
    const bool maximized = state & Qt::WindowMaximized;
    if (!minimized && !maximized) m_normal = m_widget.geometry();
    Placement p = m_units.toUnits(m_normal);
    p.minimized = minimized;
    p.maximized = maximized;
    if (p.x == m_last.x && p.y == m_last.y && p.width == m_last.width &&
        p.height == m_last.height && p.minimized == m_last.minimized &&
        p.maximized == m_last.maximized)
        return;
    m_last = p;
    m_model.setPlacement(p, true);
}

} // namespace ui
