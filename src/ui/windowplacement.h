#pragma once

class PlacementStore;

namespace ui {

class ToolWindow;

// The process's placement store (none in tests that do not make one).
void setPlacementStore(PlacementStore* store);
PlacementStore* placementStore();

// A window's placement restored from, and saved to, the section named after its
// procedure, through the window's model.
void fetchWindowPlacement(ToolWindow& window);
void updateWindowPlacement(ToolWindow& window);

} // namespace ui
