#include "platform/profilepath.h"

#include "platform/cp1250.h"
#include "platform/system.h"

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

namespace win {
namespace {

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> namesMatching(const std::string& dir, std::string_view base) {
    std::vector<std::string> found;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return found;
    while (const dirent* e = ::readdir(d))
        if (cp1250::equalNoCase(e->d_name, base)) found.emplace_back(e->d_name);
    ::closedir(d);
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace

std::string resolveProfilePath(std::string_view windowsName) {
    std::string name(windowsName);
    std::replace(name.begin(), name.end(), '\\', '/');
    while (name.starts_with("./"))
        name.erase(0, 2);

    std::string dir;
    std::string base;
    const auto slash = name.rfind('/');
    if (slash == std::string::npos) {
        dir = currentDirectory();
        base = name;
    } else {
        dir = name.substr(0, slash);
        base = name.substr(slash + 1);
        if (!name.starts_with('/'))
            dir = currentDirectory() + "/" + dir;
        else if (dir.empty())
            dir = "/";
    }
    const std::string prefix = dir.ends_with('/') ? dir : dir + "/";
    if (base.empty() || exists(prefix + base)) return prefix + base;

    const bool settingsFile = cp1250::equalNoCase(base, SettingsFileCanonicalName);
    const auto found = namesMatching(dir, base);
    if (!found.empty()) {
        if (settingsFile &&
            std::find(found.begin(), found.end(), SettingsFileCanonicalName) != found.end())
            return prefix + std::string(SettingsFileCanonicalName);
        return prefix + found.front();
    }
    return prefix + (settingsFile ? std::string(SettingsFileCanonicalName) : base);
}

} // namespace win
