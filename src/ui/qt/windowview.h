#pragma once
#include "ui/qt/queuedchange.h"

#include <vector>

namespace ui {

// What shows one tool window on the GUI thread: the frame or a subwindow.
class WindowView {
public:
    virtual ~WindowView() = default;
    // A batch of changes in the order they were made.
    virtual void applyChanges(const std::vector<QueuedChange>& changes) = 0;
};

} // namespace ui
