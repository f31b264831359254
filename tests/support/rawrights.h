#pragma once
// Takes away the right to open raw sockets (CAP_NET_RAW), so that a test running as
// root can see what a user without it sees.
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace testing_support {

// For the calling thread only (capabilities are per thread): false when it could
// not be done.
inline bool dropRawSocketRightsOfThisThread() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    data[CAP_NET_RAW / 32].effective &= ~(1u << (CAP_NET_RAW % 32));
    data[CAP_NET_RAW / 32].permitted &= ~(1u << (CAP_NET_RAW % 32));
    return ::syscall(SYS_capset, &header, data) == 0;
}

// For a program this process is about to start: out of the bounding set, root's
// program does not get it back.
inline bool dropRawSocketRightsOfNextProgram() {
    return ::prctl(PR_CAPBSET_DROP, CAP_NET_RAW, 0, 0, 0) == 0 && dropRawSocketRightsOfThisThread();
}

} // namespace testing_support
