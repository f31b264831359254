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
