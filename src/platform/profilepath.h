#pragma once
#include <string>
#include <string_view>

namespace win {

// The settings file, spelled as it is created when no spelling of it exists yet.
inline constexpr std::string_view SettingsFileCanonicalName = "VARlo.INI";

// The POSIX path a Windows profile file name stands for at this moment:
// - "\" separates directories; ".\X" and a bare "X" are X in the current
//   directory (Windows would look for a bare name in its own directory, which
//   does not exist here); "/..." is taken as it stands.
// - Windows file names do not depend on case but ours do, so in the file's
//   directory an existing file whose name matches without case is the one meant
//   (the exact spelling first; then, for the settings file, "VARlo.INI"; then the
//   first in name order). Directory names are taken as they are spelled.
// - With no match, a new file gets the spelling given, except that every spelling
//   of the settings file is created as "VARlo.INI", so that the tools that spell
//   it ".\VARlo.ini" and the placement store's ".\VarLO.ini" all share one file.
std::string resolveProfilePath(std::string_view windowsName);

} // namespace win
