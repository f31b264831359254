#pragma once
#include "settings/windowstate.h"

#include <array>
#include <atomic>
#include <string>
#include <string_view>
#include <vector>

// The window-placement store: one per process, created at program start with the
// settings file name and closed at program end. Each window with a procedure name
// fetches its placement from the section of that name when it opens and updates it
// when it closes. The store also keeps the saved list of section
// "__Dont_Touch_Me__" (entries of three text fields), read at start and written
// back at the end. Nothing is cached: every placement call reads or writes the
// file, so one window sees what another wrote. Fetch and update may be called from
// any window's thread at once.
class PlacementStore {
public:
    static constexpr std::size_t FieldCount = 3;
    static constexpr std::size_t FieldWidth = 100;
    // The list takes at most this many entries: a damaged or hostile count must
    // not make the start read, and the end write, keys without end.
    static constexpr long long MaxEntries = 1000;
    using Entry = std::array<std::string, FieldCount>;

    explicit PlacementStore(std::string file);
    ~PlacementStore();
    PlacementStore(const PlacementStore&) = delete;
    PlacementStore& operator=(const PlacementStore&) = delete;

    // Restores the window from section `procName`: its maximised state, then its
    // position and, when the user may resize it, its size. Nothing is touched
    // unless "Maximize" holds "Yes" or "No".
    void FetchPlacement(std::string_view procName, WindowState& window) const;
    // Saves the window into section `procName`; a minimised window saves nothing,
    // a maximised one only "Maximize" (keeping the normal placement saved before).
    void UpdatePlacement(std::string_view procName, const WindowState& window) const;

    const std::vector<Entry>& entries() const { return m_entries; }
    const std::string& file() const { return m_file; }

    // Writes the saved list back, in one replacement of the file; called at
    // program end, and by the destructor when it was not. Later calls do nothing.
    void close();

private:
    std::string m_file;
    std::vector<Entry> m_entries;
    std::atomic<bool> m_closed{false};
};
