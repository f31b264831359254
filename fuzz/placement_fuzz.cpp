// Placement entries and the saved list come from a settings file anyone may edit:
// whatever it holds, the store reads at most its 1,000 entries of three fields cut
// to 100, restores and saves a window, and writes a list that reads back the same
// length.
#include "scratchdir.h"
#include "settings/fakewindow.h"
#include "settings/placementstore.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

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
    FakeWindow window;
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
        FakeWindow restored = window;
        store.FetchPlacement(procedure, restored);
        store.UpdatePlacement(procedure, window);
        store.FetchPlacement(procedure, restored);
    }
    PlacementStore again(".\\VarLO.ini");
    check(again);
    if (again.entries().size() != entries) std::abort();
    return 0;
}
