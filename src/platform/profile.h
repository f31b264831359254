#pragma once
#include "platform/message.h"

#include <optional>
#include <string>
#include <vector>

namespace win {

// Windows' profile ("INI") file calls over a file of the current directory (the
// rules of the format are in profiletext.h, those of the file name in
// profilepath.h). One process-wide lock covers every call, and a write replaces
// the file as a whole (temporary file in the same directory, flushed to disk,
// renamed over the old one), so a reader never sees half a file, concurrent
// writers lose nothing, and a crash leaves the old file or the new one.

// The value of `key` in `section`, cut to size - 1 characters and NUL-terminated;
// returns the number of characters copied. A missing file, section or key gives
// `def` (NULL = empty) without its trailing blanks. A value in matching single or
// double quotes is given without them. A value ends at a NUL byte in the file.
// `section` NULL lists the section names, `key` NULL the keys of the section
// (each NUL-terminated, one more NUL at the end; a list cut short ends in two
// NULs and returns size - 2); a missing or empty section gives the default.
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* def, char* buf,
                               DWORD size, const char* file);

// Sets `key` in `section` to `value`, creating the file, section and key as
// needed; `value` NULL deletes the key and `key` NULL the whole section. A name
// or value ends at a line break (a line break cannot be stored). FALSE when the
// file cannot be written (read-only, missing directory, ...): the file is then
// left as it was. Nothing to change (the same value, a key that is not there)
// writes nothing and gives TRUE.
BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* file);

// Our own additions, not Windows calls: several reads or writes of one file that
// belong together, done with one reading of the file under the one lock.

// One edit, as WritePrivateProfileStringA takes it: no key deletes the section,
// no value the key.
struct ProfileWrite {
    std::string section;
    std::optional<std::string> key;
    std::optional<std::string> value;
};

// Applies the edits in order and replaces the file once: all of them land or, when
// the file cannot be written, none. TRUE when there was nothing to change. An edit
// that WritePrivateProfileStringA would refuse (a blank key) makes the whole batch
// FALSE and changes nothing.
BOOL WritePrivateProfileBatch(const std::vector<ProfileWrite>& writes, const char* file);

// The values of `keys` in `section`, each as GetPrivateProfileStringA gives it with
// a buffer of `size` bytes and the default of the same index (missing defaults are
// empty).
std::vector<std::string> GetPrivateProfileBatch(const char* section,
                                                const std::vector<std::string>& keys,
                                                const std::vector<std::string>& defaults,
                                                DWORD size, const char* file);

} // namespace win
