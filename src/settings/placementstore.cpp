#include "settings/placementstore.h"

#include "platform/text.h"
#include "settings/settingsfile.h"

namespace {

constexpr const char* ListSection = "__Dont_Touch_Me__";
constexpr const char* CountKey = "Sectors";
// What a missing key reads as where the Windows program asked for a number; as a
// number it is 0.
constexpr const char* Unknown = "---Unknown---";

int number(const std::string& s) {
    return static_cast<int>(text::leadingInteger(s));
}

std::string entryKey(std::size_t index) {
    return std::string(CountKey) + "_" + std::to_string(index);
}

PlacementStore::Entry splitEntry(std::string_view line) {
    PlacementStore::Entry entry;
    for (std::size_t field = 0; field < PlacementStore::FieldCount; ++field) {
        const auto comma = line.find(',');
        entry[field] = text::cut(line.substr(0, comma), PlacementStore::FieldWidth);
        if (comma == std::string_view::npos) break;
        line.remove_prefix(comma + 1);
    }
    return entry;
}

} // namespace

PlacementStore::PlacementStore(std::string file) : m_file(std::move(file)) {
    const long long count =
        text::leadingInteger(ReadSetting(ListSection, CountKey, Unknown, m_file));
    std::vector<SettingRead> keys;
    for (long long i = 1; i <= count && i <= MaxEntries; ++i)
        keys.push_back({entryKey(static_cast<std::size_t>(i)), ""});
    for (const std::string& line : ReadSettings(ListSection, keys, m_file))
        m_entries.push_back(splitEntry(line));
}

PlacementStore::~PlacementStore() {
    close();
}

void PlacementStore::close() {
    if (m_closed.exchange(true)) return;
    std::vector<SettingWrite> writes;
    writes.push_back({ListSection, CountKey, std::to_string(m_entries.size())});
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& e = m_entries[i];
        writes.push_back({ListSection, entryKey(i + 1), e[0] + "," + e[1] + "," + e[2]});
    }
    WriteSettings(writes, m_file);
}

void PlacementStore::FetchPlacement(std::string_view procName, WindowState& window) const {
    // One reading of the file for all five keys; each is what its own read would give.
    const std::vector<std::string> saved = ReadSettings(procName,
                                                        {{"Maximize", ""},
                                                         {"XPos", ""},
                                                         {"YPos", Unknown},
                                                         {"Width", Unknown},
                                                         {"Height", Unknown}},
                                                        m_file);
    const std::string& maximize = saved[0];
    bool savedMaximized;
    if (maximize == "No")
        savedMaximized = false;
    else if (maximize == "Yes")
        savedMaximized = true;
    else
        return;

    // A window defined to open maximised is brought to normal size first, so the
    // position and size below apply to its normal placement.
    if (!savedMaximized && window.isMaximized()) window.restore();

    if (!saved[1].empty()) {
        window.setX(number(saved[1]));
        window.setY(number(saved[2]));
        if (window.isResizable()) {
            window.setWidth(number(saved[3]));
            window.setHeight(number(saved[4]));
        }
    }
    if (window.isMaximized() != savedMaximized) window.setMaximized(savedMaximized);
}

void PlacementStore::UpdatePlacement(std::string_view procName, const WindowState& window) const {
    if (window.isMinimized()) return;
    const std::string section(procName);
    const bool maximized = window.isMaximized();
    std::vector<SettingWrite> writes{{section, "Maximize", maximized ? "Yes" : "No"}};
    if (!maximized) {
        writes.push_back({section, "XPos", std::to_string(window.x())});
        writes.push_back({section, "YPos", std::to_string(window.y())});
        // The Windows program saved the height before the width; kept, so that the
        // keys of a new section stand in the same order.
        if (window.isResizable()) {
            writes.push_back({section, "Height", std::to_string(window.height())});
            writes.push_back({section, "Width", std::to_string(window.width())});
        }
    }
    // One replacement of the file: a window's placement is never half saved.
    WriteSettings(writes, m_file);
}
