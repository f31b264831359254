#pragma once
#include "platform/message.h"

#include <string>

namespace win {

// The login name of the process's user (the password database, else $USER, else
// $LOGNAME). Windows' buffer rules: *size counts the terminating NUL both ways;
// when the buffer is missing or too small the call fails and *size is set to the
// size needed. Also FALSE when no name can be found.
BOOL GetUserNameA(char* buf, DWORD* size);

// The host name. Windows computer names are NetBIOS names (at most 15 characters,
// upper case); here the host name is given as the system has it, neither cut nor
// upper-cased, because that is the name the user knows the machine by. Windows'
// buffer rules: on success *size is the length without the NUL; when the buffer
// is missing or too small the call fails and *size is the size needed, NUL
// included.
BOOL GetComputerNameA(char* buf, DWORD* size);

// The process's current directory; empty when it cannot be found (removed).
std::string currentDirectory();

// Opens `path` in a text editor and returns at once (the program stands in for
// starting Notepad). The editor is $VISUAL, else $EDITOR run inside a terminal
// emulator (x-terminal-emulator, else xterm) when one is installed, else
// xdg-open. Returns false when none of them can be started. The editor runs
// detached in its own session: we never wait for it, it leaves no zombie, and it
// inherits none of our descriptors beyond standard input, output and error (a
// listening socket held by an editor would keep its port busy after we close it).
bool startEditor(const std::string& path);

} // namespace win
