#pragma once
// This test process as a port's holder, and the line that names it.
#include <fstream>
#include <pwd.h>
#include <string>
#include <unistd.h>

namespace testing_support {
struct SelfHolder {
    std::string command, pid = std::to_string(::getpid()), user = ::getpwuid(::geteuid())->pw_name;
    SelfHolder() { std::ifstream("/proc/self/comm") >> command; }
    std::string line() const {
        return "  held by " + command + " (pid " + pid + ", user " + user + ")";
    }
};
} // namespace testing_support
