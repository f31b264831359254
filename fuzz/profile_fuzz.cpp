// The profile functions themselves over real files: whatever the file holds and
// whatever the names, values and buffer sizes, a read stays inside its buffer and
// ends in NUL, a write either lands or leaves the file as it was, and a pipe or a
// directory in the file's place neither blocks nor is replaced.
#include "platform/profile.h"
#include "scratchdir.h"
#include "settings/settingsfile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char* const kFiles[] = {".\\VARlo.INI", ".\\VarLO.ini", "varlo.ini", ".\\missing\\x.ini",
                              "TAVIK6.INI"};

std::optional<std::string> maybeString(FuzzedDataProvider& in) {
    if (in.ConsumeBool()) return std::nullopt;
    return in.ConsumeRandomLengthString(80);
}

const char* cStr(const std::optional<std::string>& s) {
    return s ? s->c_str() : nullptr;
}

bool plainWord(const std::string& s) {
    if (s.empty()) return false;
    for (unsigned char c : s)
        if (!std::isalnum(c)) return false;
    return true;
}

void read(FuzzedDataProvider& in, const char* file) {
    const auto section = maybeString(in);
    const auto key = maybeString(in);
    const auto def = maybeString(in);
    const auto size = in.ConsumeIntegralInRange<win::DWORD>(0, 300);
    // Exactly `size` bytes on the heap, so any byte written past them is caught.
    auto buf = std::make_unique<char[]>(size == 0 ? 1 : size);
    const win::DWORD n =
        win::GetPrivateProfileStringA(cStr(section), cStr(key), cStr(def), buf.get(), size, file);
    if (size == 0) {
        if (n != 0) std::abort();
        return;
    }
    if (n >= size || buf[n] != '\0') std::abort();
    // A list (no section or no key) is cut so that two NULs end it.
    if ((!section || !key) && size >= 2 && n == size - 2 && buf[size - 1] != '\0') std::abort();
}

void write(FuzzedDataProvider& in, const char* file) {
    const auto section = maybeString(in);
    const auto key = maybeString(in);
    const auto value = maybeString(in);
    const win::BOOL ok =
        win::WritePrivateProfileStringA(cStr(section), cStr(key), cStr(value), file);
    // A plain name and value written must read back as they were.
    if (ok && section && key && value && plainWord(*section) && plainWord(*key) &&
        plainWord(*value)) {
        char buf[128] = {};
        win::GetPrivateProfileStringA(section->c_str(), key->c_str(), "", buf, sizeof buf, file);
        if (*value != buf) std::abort();
    }
}

void batch(FuzzedDataProvider& in, const char* file) {
    std::vector<win::ProfileWrite> writes(in.ConsumeIntegralInRange(0, 6));
    for (auto& w : writes) {
        w.section = in.ConsumeRandomLengthString(40);
        w.key = maybeString(in);
        w.value = maybeString(in);
    }
    win::WritePrivateProfileBatch(writes, file);
    std::vector<std::string> keys(in.ConsumeIntegralInRange(0, 6)), defaults;
    for (auto& k : keys)
        k = in.ConsumeRandomLengthString(40);
    if (in.ConsumeBool()) defaults.push_back(in.ConsumeRandomLengthString(40));
    const auto section = maybeString(in);
    const auto size = in.ConsumeIntegralInRange<win::DWORD>(0, 100);
    const auto values = win::GetPrivateProfileBatch(cStr(section), keys, defaults, size, file);
    if (values.size() != keys.size()) std::abort();
    for (const auto& v : values)
        if (size > 0 && v.size() >= size) std::abort();
}

void settings(FuzzedDataProvider& in, const char* file) {
    const std::string section = in.ConsumeRandomLengthString(100);
    const std::string key = in.ConsumeRandomLengthString(100);
    WriteSetting(section, key, in.ConsumeRandomLengthString(1100), file);
    if (ReadSetting(section, key, in.ConsumeRandomLengthString(1100), file).size() >
        SettingValueLimit)
        std::abort();
}

// What else may stand where the file should be.
void replaceFile(FuzzedDataProvider& in) {
    ::unlink("VARlo.INI");
    ::rmdir("VARlo.INI");
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
        ::mkfifo("VARlo.INI", 0644);
        break;
    case 1:
        ::mkdir("VARlo.INI", 0755);
        break;
    case 2:
        ::symlink("/dev/zero", "VARlo.INI");
        break;
    case 3:
        ::symlink("nowhere/at/all", "VARlo.INI");
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::enterScratchDirectory();
    fuzzing::clearScratchDirectory();
    FuzzedDataProvider in(data, size);
    fuzzing::writeFile("VARlo.INI", in.ConsumeRandomLengthString(4096));
    for (int step = 0; step < 16 && in.remaining_bytes() > 0; ++step) {
        const char* file = in.PickValueInArray(kFiles);
        switch (in.ConsumeIntegralInRange(0, 9)) {
        case 0:
        case 1:
        case 2:
            read(in, file);
            break;
        case 3:
        case 4:
            write(in, file);
            break;
        case 5:
        case 6:
            batch(in, file);
            break;
        case 7:
        case 8:
            settings(in, file);
            break;
        case 9:
            replaceFile(in);
            break;
        }
    }
    return 0;
}
