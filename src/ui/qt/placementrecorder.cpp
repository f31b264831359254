#include "ui/qt/placementrecorder.h"

#include <QWidget>
#include <algorithm>

namespace ui {

PlacementRecorder::PlacementRecorder(QWidget& widget, WindowModel& model, const DialogUnits& units)
    : m_widget(widget), m_model(model), m_units(units) {}

void PlacementRecorder::setBounds(std::function<QRect()> bounds, std::function<QSize()> needed) {
    m_bounds = std::move(bounds);
    m_needed = std::move(needed);
}

QRect PlacementRecorder::fitted(QRect rect) const {
    const QRect area = m_bounds ? m_bounds() : QRect();
    if (!area.isValid()) return rect;
    const QSize needed = m_needed ? m_needed() : QSize(0, 0);
    if (rect.width() > area.width()) rect.setWidth(std::max(area.width(), needed.width()));
    if (rect.height() > area.height()) rect.setHeight(std::max(area.height(), needed.height()));
    // Inside where the size allows; a window larger than the area keeps its top
    // left corner (and so its caption) in view.
    rect.moveLeft(std::clamp(rect.left(), area.left(),
                             std::max(area.left(), area.left() + area.width() - rect.width())));
    rect.moveTop(std::clamp(rect.top(), area.top(),
                            std::max(area.top(), area.top() + area.height() - rect.height())));
    return rect;
}

void PlacementRecorder::apply(const Placement& p) {
    m_applying = true;
    QRect rect = m_units.toPixels(p);
    // A placement without a size keeps the present one.
    if (p.width <= 0 || p.height <= 0) rect.setSize(m_widget.size());
    rect = fitted(rect);
    if (m_widget.windowState() & (Qt::WindowMinimized | Qt::WindowMaximized))
        m_widget.setWindowState(Qt::WindowNoState);
    place(rect);
    m_normal = rect;
    m_arranged = false;
    if (p.minimized)
        m_widget.setWindowState(Qt::WindowMinimized);
    else if (p.maximized)
        m_widget.setWindowState(Qt::WindowMaximized);
    m_last = p;
    m_applying = false;
}

void PlacementRecorder::place(const QRect& rect) {
    if (!m_widget.isWindow()) {
        m_widget.setGeometry(rect);
        return;
    }
    // A window of its own is placed by its outer corner, the window manager's
    // title bar included: a placement at the screen's top keeps that bar on it.
    m_widget.resize(rect.size());
    m_widget.move(rect.topLeft());
}

QRect PlacementRecorder::placed() const {
    return m_widget.isWindow() ? QRect(m_widget.pos(), m_widget.size()) : m_widget.geometry();
}

void PlacementRecorder::arrange(const QRect& rect) {
    if (!m_arranged) m_keptSize = QSize(m_last.width, m_last.height);
    m_arranged = true;
    m_arrangedSize = rect.size();
    if (m_widget.windowState() & Qt::WindowMaximized) m_widget.setWindowState(Qt::WindowNoState);
    m_widget.setGeometry(rect);
    record();
}

void PlacementRecorder::record() {
    if (m_applying || !m_enabled || !m_widget.isVisible()) return;
    const Qt::WindowStates state = m_widget.windowState();
    const bool minimized = state & Qt::WindowMinimized;
    const bool maximized = state & Qt::WindowMaximized;
    if (!minimized && !maximized) m_normal = placed();
    Placement p = m_units.toUnits(m_normal);
    if (m_arranged) {
        if (m_normal.size() == m_arrangedSize && m_keptSize.width() > 0) {
            p.width = m_keptSize.width();
            p.height = m_keptSize.height();
        } else if (m_normal.size() != m_arrangedSize) {
            m_arranged = false; // resized by the person: that size is theirs
        }
    }
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
