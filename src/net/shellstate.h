#pragma once
#include "platform/winsock.h"

#include <atomic>
#include <cstdint>
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

} // namespace shell
