#pragma once
#include <cstddef>
#include <limits>
#include <string>
#include <sys/types.h>

namespace win {

// What reading a settings or rule file found.
struct RegularFile {
    enum class Status {
        Read,       // a regular file: `bytes` holds it (up to the limit)
        Missing,    // no such file
        NotRegular, // a pipe, device, socket or directory stands in the file's place
        Failed,     // there, but it could not be opened or read (permissions, I/O)
    };
    Status status = Status::Failed;
    std::string bytes;
    mode_t mode = 0; // the permission bits of a file that was read
};

// Reads a file that the user keeps by hand (settings, port lists, rules). The file
// is opened without blocking and its type checked before anything is read: a FIFO
// put in its place would otherwise hold the calling window until some process
// wrote to it, and a device could be read without end. At most `limit` bytes are
// read; the memory taken is the file's size, known before the read, and `spare`
// bytes more for a caller that will add to the text (so it is not copied to grow).
RegularFile readRegularFile(const std::string& path,
                            std::size_t limit = std::numeric_limits<std::size_t>::max(),
                            std::size_t spare = 0);

} // namespace win
