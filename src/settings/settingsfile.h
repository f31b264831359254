#pragma once
#include <string>
#include <string_view>
#include <vector>

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

// One key of a group of writes, and one key of a group of reads (with its default).
struct SettingWrite {
    std::string section;
    std::string key;
    std::string value;
};
struct SettingRead {
    std::string key;
    std::string def;
};

// Writes that belong together (a window's placement, the saved list) as one
// replacement of the file: a crash or a failure leaves all of them or none, and a
// hundred keys cost one rewrite, not a hundred. The same limits and trimming as
// WriteSetting; a failure is ignored in the same way.
void WriteSettings(const std::vector<SettingWrite>& writes, std::string_view file = SettingsFile);

// The values of several keys of one section from one reading of the file, each as
// ReadSetting would give it.
std::vector<std::string> ReadSettings(std::string_view section,
                                      const std::vector<SettingRead>& keys,
                                      std::string_view file = SettingsFile);
