#pragma once
#include "ui/windowmodel.h"

#include <string>
#include <vector>

namespace ui {

// Rows of a list as plain text for the clipboard and for files: one row a line
// ended by a line feed, its columns separated by tabs, in UTF-8 (the rows are
// kept in Windows-1250, as the tools wrote them). The copy, "Save list as..." and
// the headless `save` all give this same text.
std::string listText(const std::vector<Row>& rows);

} // namespace ui
