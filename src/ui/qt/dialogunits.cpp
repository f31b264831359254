#include "ui/qt/dialogunits.h"

#include "ui/windowmodel.h"

#include <QFontMetricsF>
#include <cmath>

namespace ui {

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetricsF metrics(font);
    // The average over the Latin letters, the way dialog base units are measured,
    // rather than the font's own figure, which some fonts leave at zero.
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const double average = metrics.horizontalAdvance(letters) / letters.size();
    if (average > 0) m_charWidth = average;
    if (metrics.height() > 0) m_lineHeight = metrics.height();
}

int DialogUnits::toPixelsX(int units) const {
    return static_cast<int>(std::lround(units * m_charWidth / 4.0));
}

int DialogUnits::toPixelsY(int units) const {
    return static_cast<int>(std::lround(units * m_lineHeight / 8.0));
}

int DialogUnits::toUnitsX(int pixels) const {
    return static_cast<int>(std::lround(pixels * 4.0 / m_charWidth));
}

int DialogUnits::toUnitsY(int pixels) const {
    return static_cast<int>(std::lround(pixels * 8.0 / m_lineHeight));
}

int DialogUnits::charsWidth(int chars) const {
    return static_cast<int>(std::lround(chars * m_charWidth));
}

QRect DialogUnits::toPixels(const Placement& p) const {
    return QRect(toPixelsX(p.x), toPixelsY(p.y), toPixelsX(p.width), toPixelsY(p.height));
}

Placement DialogUnits::toUnits(const QRect& rect) const {
    Placement p;
    p.x = toUnitsX(rect.x());
    p.y = toUnitsY(rect.y());
    p.width = toUnitsX(rect.width());
    p.height = toUnitsY(rect.height());
    return p;
}

} // namespace ui
