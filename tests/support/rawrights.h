#pragma once
// Takes away the right to open raw sockets (CAP_NET_RAW), so that a test running as
// root can see what a user without it sees.
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace testing_support {

// For a program this process is about to start (call it in the child before exec):
// out of the bounding set as well as the thread's own sets, so that a program run
// as root does not get it back. False when it could not be done.
inline bool dropRawSocketRightsOfNextProgram() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::prctl(PR_CAPBSET_DROP, CAP_NET_RAW, 0, 0, 0) != 0 ||
        ::syscall(SYS_capget, &header, data) != 0)
        return false;
    data[CAP_NET_RAW / 32].effective &= ~(1u << (CAP_NET_RAW % 32));
    data[CAP_NET_RAW / 32].permitted &= ~(1u << (CAP_NET_RAW % 32));
    return ::syscall(SYS_capset, &header, data) == 0;
}

} // namespace testing_support
