#include "platform/regularfile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace win {

RegularFile readRegularFile(const std::string& path, std::size_t limit, std::size_t spare) {
    RegularFile file;
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        file.status = errno == ENOENT ? RegularFile::Status::Missing : RegularFile::Status::Failed;
        return file;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return file;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        file.status = RegularFile::Status::NotRegular;
        return file;
    }
    file.mode = st.st_mode & 07777;
    // The size known now is reserved once; a file that grows meanwhile is read on
    // to the limit all the same.
    file.bytes.reserve(std::min<std::size_t>(static_cast<std::size_t>(st.st_size), limit) + spare);
    char chunk[65536];
    while (file.bytes.size() < limit) {
        const std::size_t want = std::min(sizeof chunk, limit - file.bytes.size());
        const ssize_t n = ::read(fd, chunk, want);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            file.bytes.clear();
            return file;
        }
        if (n == 0) break;
        file.bytes.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    file.status = RegularFile::Status::Read;
    return file;
}

} // namespace win
