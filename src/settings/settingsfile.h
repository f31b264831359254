#pragma once
#include <string>
#include <string_view>

// The program's settings file: "VARlo.INI" in the current directory at the moment
// of each access. The tools also spell it ".\VARlo.ini" and the placement store is
// given ".\VarLO.ini"; the profile layer maps every spelling to the one file.
inline constexpr const char* SettingsFile = ".\\VARlo.INI";

// Settings field widths, as the Windows program's buffers had them: a longer
// argument is cut, and only then are trailing blanks removed, so that nothing
// ever reaches the file or a comparison with blanks at its end.
inline constexpr std::size_t SettingNameLimit = 63;    // section and key
inline constexpr std::size_t SettingValueLimit = 1023; // default, value, result
inline constexpr std::size_t SettingFileLimit = 259;   // file name (MAX_PATH - 1)

// The value of `key` in `section`, or `def` when the key (or file) is missing.
std::string ReadSetting(std::string_view section, std::string_view key, std::string_view def,
                        std::string_view file = SettingsFile);

// Writes the value, creating the file, section and key as needed. A failed write
// (read-only file, missing directory) is ignored: settings are a convenience and
// no tool stops for them.
void WriteSetting(std::string_view section, std::string_view key, std::string_view value,
                  std::string_view file = SettingsFile);
