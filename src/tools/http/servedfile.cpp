#include "tools/http/servedfile.h"

#include "platform/system.h"
#include "platform/text.h"
#include "tools/http/nocasepath.h"

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tools::http {
namespace {

std::string realPath(const std::string& path) {
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

// Where the open descriptor really is: the check is made on what was opened,
// so a link swapped in between a check and the open changes nothing.
std::string openedPath(int fd) {
    char buf[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

} // namespace

std::string servedDirectory(const std::string& rootDir) {
    const std::string root = text::trimRight(rootDir);
    const auto slash = root.rfind('/');
    if (slash == std::string::npos) return win::currentDirectory() + "/";
    return root.substr(0, slash + 1);
}

int openServedFile(const std::string& rootDir, const std::string& fileName, bool noCase) {
    const std::string directory = servedDirectory(rootDir);
    const std::string confined = realPath(directory);
    if (confined.empty()) return -1;
    std::string name = fileName;
    if (text::trimRight(rootDir).find('/') == std::string::npos) name = directory + fileName;
    struct stat st {};
    if (noCase && ::stat(name.c_str(), &st) != 0 && name.starts_with(directory))
        name = matchNoCase(directory.substr(0, directory.size() - 1),
                           std::string_view(name).substr(directory.size()));
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return -1;
    const std::string opened = openedPath(fd);
    const bool inside =
        confined == "/" ? opened.starts_with('/') : opened.starts_with(confined + "/");
    if (!inside || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace tools::http
