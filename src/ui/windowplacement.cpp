#include "ui/windowplacement.h"

#include "settings/placementstore.h"
#include "ui/modelwindowstate.h"
#include "ui/toolwindow.h"

#include <atomic>

namespace ui {
namespace {
std::atomic<PlacementStore*> g_store{nullptr};
}

void setPlacementStore(PlacementStore* store) { g_store = store; }
PlacementStore* placementStore() { return g_store.load(); }

void fetchWindowPlacement(ToolWindow& window) {
    PlacementStore* store = placementStore();
    if (!store) return;
    ModelWindowState state(window.model(), window.definition().resizable);
    store->FetchPlacement(window.procedure(), state);
}

void updateWindowPlacement(ToolWindow& window) {
    PlacementStore* store = placementStore();
    if (!store) return;
    ModelWindowState state(window.model(), window.definition().resizable);
    store->UpdatePlacement(window.procedure(), state);
}

} // namespace ui
