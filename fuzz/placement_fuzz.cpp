// Placement entries and the saved list come from a settings file anyone may edit:
// whatever it holds, the store reads at most its 1,000 entries of three fields cut
// to 100, restores and saves a window, and writes a list that reads back the same
// length.
#include "scratchdir.h"
#include "settings/placementstore.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

class Window : public WindowState {
public:
    bool minimized = false, maximized = false, resizable = true;
    int px = 0, py = 0, pw = 0, ph = 0;
    bool isMinimized() const override { return minimized; }
    bool isMaximized() const override { return maximized; }
    bool isResizable() const override { return resizable; }
    int x() const override { return px; }
    int y() const override { return py; }
    int width() const override { return pw; }
    int height() const override { return ph; }
    void setPosition(int x, int y) override { px = x, py = y; }
    void setX(int x) override { px = x; }
    void setY(int y) override { py = y; }
    void setSize(int w, int h) override { pw = w, ph = h; }
    void setWidth(int w) override { pw = w; }
    void setHeight(int h) override { ph = h; }
    void setMaximized(bool m) override { maximized = m; }
    void restore() override { maximized = minimized = false; }
};

void check(const PlacementStore& store) {
    if (store.entries().size() > PlacementStore::MaxEntries) std::abort();
    for (const auto& entry : store.entries())
        for (const auto& field : entry)
            if (field.size() > PlacementStore::FieldWidth) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::enterScratchDirectory();
    fuzzing::clearScratchDirectory();
    FuzzedDataProvider in(data, size);
    const std::string procedure = in.ConsumeRandomLengthString(80);
    Window window;
    window.minimized = in.ConsumeBool();
    window.maximized = in.ConsumeBool();
    window.resizable = in.ConsumeBool();
    window.px = in.ConsumeIntegral<int>();
    window.py = in.ConsumeIntegral<int>();
    window.pw = in.ConsumeIntegral<int>();
    window.ph = in.ConsumeIntegral<int>();
    fuzzing::writeFile("VARlo.INI", in.ConsumeRemainingBytesAsString());
    std::size_t entries = 0;
    {
        PlacementStore store(".\\VarLO.ini");
        check(store);
        entries = store.entries().size();
        Window restored = window;
        store.FetchPlacement(procedure, restored);
        store.UpdatePlacement(procedure, window);
        store.FetchPlacement(procedure, restored);
    }
    PlacementStore again(".\\VarLO.ini");
    check(again);
    if (again.entries().size() != entries) std::abort();
    return 0;
}
