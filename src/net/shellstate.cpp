#include "net/shellstate.h"

#include "platform/text.h"

#include <map>
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

namespace {
std::mutex g_watchMutex; // held while watchers are told, so a watch ends only between calls
std::map<int, std::function<void(bool)>> g_watchers;
int g_nextWatch = 0;
} // namespace

void setSound(std::uint8_t value) {
    std::lock_guard lock(g_watchMutex);
    Sound = value;
    for (const auto& [id, show] : g_watchers) show(value != 0);
}

SoundWatch::SoundWatch(std::function<void(bool)> show) {
    std::lock_guard lock(g_watchMutex);
    m_id = ++g_nextWatch;
    g_watchers[m_id] = std::move(show);
}

SoundWatch::~SoundWatch() {
    std::lock_guard lock(g_watchMutex);
    g_watchers.erase(m_id);
}

} // namespace shell
