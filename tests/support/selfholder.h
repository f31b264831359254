#pragma once
// This test process as a port's holder: the line that names it.
#include <fstream>
#include <pwd.h>
#include <string>
#include <unistd.h>

namespace testing_support {

struct SelfHolder {
    std::string command, pid, user;
    SelfHolder() : pid(std::to_string(::getpid())) {
        std::ifstream("/proc/self/comm") >> command;
        const passwd* p = ::getpwuid(::geteuid());
        user = p ? p->pw_name : std::to_string(::geteuid());
    }
    std::string line() const { return "  held by " + command + " (pid " + pid + ", user " + user + ")"; }
};

} // namespace testing_support
