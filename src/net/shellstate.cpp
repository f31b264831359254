#include "net/shellstate.h"

#include "platform/text.h"

#include <mutex>

namespace shell {

std::atomic<std::uint8_t> Sound{0};
std::atomic<int> SocketsStarted{0};
win::WSADATA SocketsData{};
std::atomic<std::int16_t> SocketsResult{0};

namespace {
std::mutex g_soundFileMutex;
std::string g_soundFile;
} // namespace

std::string soundFile() {
    std::lock_guard lock(g_soundFileMutex);
    return g_soundFile;
}

void setSoundFile(const std::string& file) {
    std::lock_guard lock(g_soundFileMutex);
    g_soundFile = text::cut(file, 19);
}

bool soundOn() { return Sound.load() != 0; }

} // namespace shell
