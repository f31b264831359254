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
    for (long long i = 1; i <= count && i <= MaxEntries; ++i)
        m_entries.push_back(splitEntry(
            ReadSetting(ListSection, entryKey(static_cast<std::size_t>(i)), "", m_file)));
}

PlacementStore::~PlacementStore() {
    close();
}

void PlacementStore::close() {
    if (m_closed.exchange(true)) return;
    WriteSetting(ListSection, CountKey, std::to_string(m_entries.size()), m_file);
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& e = m_entries[i];
        WriteSetting(ListSection, entryKey(i + 1), e[0] + "," + e[1] + "," + e[2], m_file);
    }
}

void PlacementStore::FetchPlacement(std::string_view procName, WindowState& window) const {
    const std::string maximize = ReadSetting(procName, "Maximize", "", m_file);
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

    const std::string xPos = ReadSetting(procName, "XPos", "", m_file);
    if (!xPos.empty()) {
        window.setX(number(xPos));
        window.setY(number(ReadSetting(procName, "YPos", Unknown, m_file)));
        if (window.isResizable()) {
            window.setWidth(number(ReadSetting(procName, "Width", Unknown, m_file)));
            window.setHeight(number(ReadSetting(procName, "Height", Unknown, m_file)));
        }
    }
    if (window.isMaximized() != savedMaximized) window.setMaximized(savedMaximized);
}

void PlacementStore::UpdatePlacement(std::string_view procName, const WindowState& window) const {
    if (window.isMinimized()) return;
    const bool maximized = window.isMaximized();
    WriteSetting(procName, "Maximize", maximized ? "Yes" : "No", m_file);
    if (maximized) return;
    WriteSetting(procName, "XPos", std::to_string(window.x()), m_file);
    WriteSetting(procName, "YPos", std::to_string(window.y()), m_file);
    // The Windows program saved the height before the width; kept, so that the
    // keys of a new section stand in the same order.
    if (window.isResizable()) {
        WriteSetting(procName, "Height", std::to_string(window.height()), m_file);
        WriteSetting(procName, "Width", std::to_string(window.width()), m_file);
    }
}
