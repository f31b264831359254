#include "settings/settingsfile.h"

#include "platform/profile.h"
#include "platform/text.h"

namespace {

std::string limited(std::string_view s, std::size_t width) {
    return text::trimRight(text::cut(s, width));
}

} // namespace

std::string ReadSetting(std::string_view section, std::string_view key, std::string_view def,
                        std::string_view file) {
    const std::string s = limited(section, SettingNameLimit);
    const std::string k = limited(key, SettingNameLimit);
    const std::string d = limited(def, SettingValueLimit);
    const std::string f = limited(file, SettingFileLimit);
    char buf[SettingValueLimit + 1] = {};
    const win::DWORD n =
        win::GetPrivateProfileStringA(s.c_str(), k.c_str(), d.c_str(), buf, sizeof buf, f.c_str());
    return std::string(buf, n);
}

void WriteSetting(std::string_view section, std::string_view key, std::string_view value,
                  std::string_view file) {
    const std::string s = limited(section, SettingNameLimit);
    const std::string k = limited(key, SettingNameLimit);
    const std::string v = limited(value, SettingValueLimit);
    const std::string f = limited(file, SettingFileLimit);
    win::WritePrivateProfileStringA(s.c_str(), k.c_str(), v.c_str(), f.c_str());
}

void WriteSettings(const std::vector<SettingWrite>& writes, std::string_view file) {
    std::vector<win::ProfileWrite> edits;
    edits.reserve(writes.size());
    for (const auto& w : writes)
        edits.push_back({limited(w.section, SettingNameLimit), limited(w.key, SettingNameLimit),
                         limited(w.value, SettingValueLimit)});
    win::WritePrivateProfileBatch(edits, limited(file, SettingFileLimit).c_str());
}

std::vector<std::string> ReadSettings(std::string_view section,
                                      const std::vector<SettingRead>& keys, std::string_view file) {
    std::vector<std::string> names, defaults;
    names.reserve(keys.size());
    defaults.reserve(keys.size());
    for (const auto& k : keys) {
        names.push_back(limited(k.key, SettingNameLimit));
        defaults.push_back(limited(k.def, SettingValueLimit));
    }
    return win::GetPrivateProfileBatch(limited(section, SettingNameLimit).c_str(), names, defaults,
                                       SettingValueLimit + 1,
                                       limited(file, SettingFileLimit).c_str());
}
