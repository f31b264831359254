#include "platform/profile.h"

#include "platform/profilepath.h"
#include "platform/profiletext.h"
#include "platform/regularfile.h"
#include "platform/text.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace win {
namespace {

std::mutex& profileLock() {
    static std::mutex lock;
    return lock;
}

struct FileState {
    bool exists = false;
    mode_t mode = 0;
    std::string content;
};

// The file's text; nothing when it exists but cannot be read, or is no regular
// file (a pipe in its place must neither block us nor be written over).
std::optional<FileState> load(const std::string& path, std::size_t spare = 0) {
    RegularFile file = readRegularFile(path, std::numeric_limits<std::size_t>::max(), spare);
    FileState state;
    if (file.status == RegularFile::Status::Missing) return state;
    if (file.status != RegularFile::Status::Read) return std::nullopt;
    state.exists = true;
    state.mode = file.mode;
    state.content = std::move(file.bytes);
    return state;
}

// Windows' read-only attribute has no owner, and root may write anything, so a
// file without any write permission bit counts as read-only for everyone.
bool isReadOnly(const std::string& path, mode_t mode) {
    return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0;
}

bool writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes `content` to a new file beside `path` and renames it over `path`.
bool replaceFile(const std::string& path, const std::string& content, bool existed, mode_t mode) {
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    static unsigned long counter = 0; // guarded by the profile lock
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = dir + "." + base + ".tmp" + std::to_string(::getpid()) + "_" +
               std::to_string(++counter);
        // 0666 lets the umask decide a new file's permissions, as for any new file.
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = writeAll(fd, content);
    if (ok && existed) ok = ::fchmod(fd, mode) == 0;
    if (ok) ok = ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // The rename itself is only durable once the directory is on disk.
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

// A symbolic link stays one: the file it points to is the one replaced.
std::string followLink(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return path;
    std::string out(real);
    std::free(real);
    return out;
}

DWORD copyString(std::string_view s, char* buf, DWORD size) {
    const auto n = static_cast<DWORD>(std::min<std::size_t>(s.size(), size - 1));
    std::memcpy(buf, s.data(), n);
    buf[n] = '\0';
    return n;
}

DWORD copyList(const std::vector<std::string>& names, char* buf, DWORD size) {
    if (size < 2) {
        buf[0] = '\0';
        return 0;
    }
    std::size_t pos = 0;
    for (const auto& name : names) {
        // Each name, its NUL and the list's final NUL must fit; if not, the name is
        // cut so that two NULs end the buffer. A name before may have left only the
        // byte for the final NUL (pos = size - 1): then nothing of this one fits.
        if (pos + name.size() + 2 > size) {
            const std::size_t room = pos + 2 <= size ? size - 2 - pos : 0;
            std::memcpy(buf + pos, name.data(), room);
            buf[size - 2] = '\0';
            buf[size - 1] = '\0';
            return size - 2;
        }
        std::memcpy(buf + pos, name.data(), name.size());
        pos += name.size();
        buf[pos++] = '\0';
    }
    buf[pos] = '\0';
    if (pos == 0) buf[1] = '\0';
    return static_cast<DWORD>(pos);
}

std::string_view stripQuotes(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

std::string_view upToLineBreak(const char* s) {
    std::string_view v(s);
    return v.substr(0, v.find_first_of("\r\n"));
}

DWORD readValue(const ProfileText& profile, const char* section, const char* key,
                const std::string& fallback, char* buf, DWORD size) {
    if (!section) return copyList(profile.sectionNames(), buf, size);
    if (!key) {
        const auto keys = profile.keyNames(section);
        if (keys.empty()) return copyString(fallback, buf, size);
        return copyList(keys, buf, size);
    }
    const auto value = profile.value(section, key);
    if (!value) return copyString(fallback, buf, size);
    const std::string_view untilNul(value->c_str());
    return copyString(stripQuotes(untilNul), buf, size);
}

// Names and values end at their NUL, as the C strings of the Windows call do.
std::string_view cString(const std::string& s) {
    return std::string_view(s.c_str());
}

bool blankKey(const ProfileWrite& w) {
    return w.key &&
           upToLineBreak(w.key->c_str()).find_first_not_of(" \t") == std::string_view::npos;
}

bool apply(ProfileText& profile, const ProfileWrite& w) {
    const std::string_view section = upToLineBreak(w.section.c_str());
    if (!w.key) return profile.removeSection(section);
    if (!w.value) return profile.removeKey(section, upToLineBreak(w.key->c_str()));
    return profile.setValue(section, upToLineBreak(w.key->c_str()),
                            upToLineBreak(w.value->c_str()));
}

} // namespace

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* def, char* buf,
                               DWORD size, const char* file) {
    if (!buf || size == 0) return 0;
    // Windows drops the default's trailing blanks (and only blanks).
    const std::string fallback = text::trimRight(def ? def : "");
    if (!file) return copyString(fallback, buf, size);

    std::lock_guard guard(profileLock());
    auto state = load(resolveProfilePath(file));
    const ProfileText profile(state ? std::move(state->content) : std::string());
    return readValue(profile, section, key, fallback, buf, size);
}

std::vector<std::string> GetPrivateProfileBatch(const char* section,
                                                const std::vector<std::string>& keys,
                                                const std::vector<std::string>& defaults,
                                                DWORD size, const char* file) {
    std::vector<std::string> values(keys.size());
    if (size == 0) return values;
    std::optional<ProfileText> profile;
    std::unique_lock guard(profileLock(), std::defer_lock);
    if (file) {
        guard.lock();
        auto state = load(resolveProfilePath(file));
        profile.emplace(state ? std::move(state->content) : std::string());
    } else {
        profile.emplace(std::string());
    }
    std::vector<char> buf(size);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const std::string fallback =
            text::trimRight(i < defaults.size() ? cString(defaults[i]) : std::string_view());
        const DWORD n = readValue(*profile, section, keys[i].c_str(), fallback, buf.data(), size);
        values[i].assign(buf.data(), n);
    }
    return values;
}

BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* file) {
    // With no section Windows only flushes its cache (we keep none) and says FALSE.
    if (!section) return 0;
    ProfileWrite w{section, std::nullopt, std::nullopt};
    if (key) w.key = key;
    if (key && value) w.value = value;
    return WritePrivateProfileBatch({w}, file);
}

BOOL WritePrivateProfileBatch(const std::vector<ProfileWrite>& writes, const char* file) {
    if (!file) return 0;
    for (const auto& w : writes)
        if (blankKey(w)) return 0;

    std::lock_guard guard(profileLock());
    const std::string path = followLink(resolveProfilePath(file));
    // Room for the edits, so that a large file is not copied to grow.
    auto state = load(path, 64 * 1024);
    if (!state) return 0;
    const bool existed = state->exists;
    const mode_t mode = state->mode;
    ProfileText profile(std::move(state->content));
    bool changed = false;
    for (const auto& w : writes)
        changed = apply(profile, w) || changed;
    if (!changed) return 1;
    if (existed && isReadOnly(path, mode)) return 0;
    return replaceFile(path, profile.content(), existed, mode) ? 1 : 0;
}

} // namespace win
