#include "tools/http/nocasepath.h"

#include "platform/cp1250.h"

#include <dirent.h>
#include <sys/stat.h>

namespace tools::http {
namespace {

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// The first name in `dir`, in name order, that matches `segment` without case.
std::string matchIn(const std::string& dir, std::string_view segment) {
    std::string best;
    DIR* d = ::opendir(dir.empty() ? "/" : dir.c_str());
    if (!d) return best;
    while (const dirent* e = ::readdir(d)) {
        const std::string_view name = e->d_name;
        if (cp1250::equalNoCase(name, segment) && (best.empty() || name < best)) best = name;
    }
    ::closedir(d);
    return best;
}

} // namespace

std::string matchNoCase(const std::string& base, std::string_view relative) {
    if (relative.empty()) return base;
    std::string path = base;
    bool matching = true;
    std::size_t start = 0;
    while (start <= relative.size()) {
        const std::size_t end = std::min(relative.find('/', start), relative.size());
        const std::string_view segment = relative.substr(start, end - start);
        const std::string dir = path;
        if (!path.ends_with('/')) path += '/';
        if (matching && !segment.empty() && segment != "." && segment != ".." &&
            !exists(path + std::string(segment))) {
            const std::string found = matchIn(dir, segment);
            if (found.empty()) matching = false;
            path += found.empty() ? std::string(segment) : found;
        } else {
            path += segment;
        }
        if (end == relative.size()) break;
        start = end + 1;
    }
    return path;
}

} // namespace tools::http
