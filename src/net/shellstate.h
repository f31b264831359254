#pragma once
#include "platform/winsock.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

// The process-wide state of the shell, shared by every window's thread. Each
// value is written whole; atomics make that true on this platform too.
namespace shell {

// The sound switch: 0 off, 1 on.
extern std::atomic<std::uint8_t> Sound;
// 1 once WSAStartup has been called in this process (also when it failed).
extern std::atomic<int> SocketsStarted;
// What WSAStartup filled in; written once, before SocketsStarted becomes 1.
extern win::WSADATA SocketsData;
extern std::atomic<std::int16_t> SocketsResult;

// The sound file last asked for, at most 19 characters.
std::string soundFile();
void setSoundFile(const std::string& file);

bool soundOn();

// The switch is one switch wherever it is shown (the frame's check mark, the
// blockers' "sound" boxes): a change made in one place is shown in all of them at
// once. setSound stores the value and tells every watcher, on the calling thread.
void setSound(std::uint8_t value);

// A window showing the switch, from its creation to its end: `show` is called
// with the new state after each setSound. Destroying the watch waits for a call
// under way, so nothing reaches a window that has gone.
class SoundWatch {
public:
    explicit SoundWatch(std::function<void(bool)> show);
    ~SoundWatch();
    SoundWatch(const SoundWatch&) = delete;
    SoundWatch& operator=(const SoundWatch&) = delete;

private:
    int m_id;
};

} // namespace shell
