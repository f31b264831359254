#pragma once
#include <QFont>
#include <QRect>

namespace ui {

struct Placement;

// Window definitions measure in dialog units, as dialog templates do: a quarter of
// the average character width across, an eighth of the font height down. Keeping
// that unit means a window laid out for one font still fits with another.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int toPixelsX(int units) const;
    int toPixelsY(int units) const;
    int toUnitsX(int pixels) const;
    int toUnitsY(int pixels) const;
    // The width of `chars` average characters, for sizing fields.
    int charsWidth(int chars) const;

    QRect toPixels(const Placement& placement) const;
    // The rectangle in dialog units; the state flags are left to the caller.
    Placement toUnits(const QRect& rect) const;

private:
    double m_charWidth = 6; // pixels
    double m_lineHeight = 13;
};

} // namespace ui
