#pragma once
// A private directory for harnesses that work on real files, made once per
// process on a memory file system where there is one (the profile writes flush
// each file to disk, which a disk would make slow) and made the current directory.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fuzzing {

inline void enterScratchDirectory() {
    static const bool entered = [] {
        const std::string base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
        std::string pattern = base + "/ws-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        std::filesystem::current_path(pattern);
        // Removed when the fuzzer ends (it exits through exit(), which runs this).
        static struct Remover {
            std::string path;
            ~Remover() {
                std::error_code ec;
                std::filesystem::remove_all(path, ec);
            }
        } remover{pattern};
        return true;
    }();
    (void)entered;
}

// Empties the scratch directory: each input starts from nothing.
inline void clearScratchDirectory() {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(".", ec))
        std::filesystem::remove_all(e.path(), ec);
}

inline void writeFile(const std::string& name, const std::string& content) {
    std::FILE* f = std::fopen(name.c_str(), "wb");
    if (!f) return;
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
}

} // namespace fuzzing
