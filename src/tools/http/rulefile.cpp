#include "tools/http/rulefile.h"

#include "platform/cp1250.h"
#include "platform/rulelines.h"
#include "platform/text.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tools::http::rulefile {

std::vector<std::string> load(std::string_view bytes, std::size_t width) {
    std::string_view text = bytes.substr(0, std::min(bytes.size(), FileLimit));
    text = text.substr(0, text.find('\0'));
    std::vector<std::string> lines;
    // Split as the port lists are, by the tools' one rule for their rule files.
    for (const std::string_view raw : text::ruleLines(text)) {
        const std::string line = text::trimRight(raw);
        if (!line.empty()) lines.push_back(text::cut(cp1250::toUpper(line), width));
    }
    return lines;
}

std::optional<std::string> readFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string bytes(FileLimit, '\0');
    std::size_t got = 0;
    while (got < FileLimit) {
        const ssize_t n = ::read(fd, bytes.data() + got, FileLimit - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(got);
    return bytes;
}

} // namespace tools::http::rulefile
