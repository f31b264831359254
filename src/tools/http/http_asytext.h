#pragma once
#include "platform/internet.h"

#include <string>

namespace tools {

// The download window's line for one status notification of the internet
// library: a text per code, with the byte count (31, 41) or the result handle
// (100) the notification carries; empty for codes it does not name.
std::string InternetStatusText(win::DWORD status, const void* information, win::DWORD length);

// The window's own name for an internet error: the n-th name of its table for
// 12000 + n (n from 1 to 36), empty for any other code.
std::string InternetErrorName(win::DWORD code);

} // namespace tools
