#pragma once
#include "platform/cp1250.h"

#include <QString>
#include <string>

// The model keeps Windows-1250 text, Qt wants Unicode: every text crosses here,
// at the renderer's edge, and nowhere else.
namespace ui::textedge {

inline QString toQt(const std::string& text) { return QString::fromStdString(cp1250::toUtf8(text)); }

inline std::string fromQt(const QString& text) { return cp1250::fromUtf8(text.toStdString()); }

} // namespace ui::textedge
