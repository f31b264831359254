#pragma once
// Shared inside the socket layer only; the tools see winsock.h.
#include "platform/sockettable.h"
#include "platform/winsock.h"

#include <optional>

namespace win {

// True while a WSAStartup is outstanding; otherwise records WSANOTINITIALISED as
// the calling thread's last error, so each call can start with it.
bool socketsReady();

// Records `error` as the last error and returns SOCKET_ERROR, the usual failure.
int failWith(int error);

// The record of an open socket of ours; WSAENOTSOCK recorded when there is none.
std::optional<SocketRecord> socketRecord(SOCKET s);

} // namespace win
