#pragma once
#include <string>

namespace tools::http {

// The directory whose files the server may send for `rootDir`: RootDir itself
// when it ends in "/", else the directory it names a prefix in ("/srv/www" with
// the path "a.htm" opens "/srv/wwwa.htm", which lies in "/srv/").
std::string servedDirectory(const std::string& rootDir);

// Opens a file the server was asked for, read-only: the name as given, else
// (with `noCase`) matched without case segment by segment beneath the served
// directory. Only a regular file that really lies within the served directory,
// after every "..", and symbolic link has been followed, is opened; -1 for
// anything else (missing, outside, a directory, a pipe, a device).
int openServedFile(const std::string& rootDir, const std::string& fileName, bool noCase);

} // namespace tools::http
