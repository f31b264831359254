#pragma once
#include "ui/windowmodel.h"

#include <vector>

namespace ui {

// A model change waiting for the GUI thread. Changes that only say "something
// changed" carry the state they refer to, read when they happened, so the GUI
// never reads a model that has already moved on past changes still queued.
struct QueuedChange {
    Change change;
    std::vector<Row> rows; // ListChanged: the rows after the change
    Placement placement;   // Placement: the placement after the change
};

} // namespace ui
