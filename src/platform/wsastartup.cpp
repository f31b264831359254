#include "platform/descriptorreserve.h"
#include "platform/winsockstate.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include <sys/resource.h>

namespace win {

namespace {

constexpr WORD kVersion11 = 0x0101;
constexpr char kDescription[] = "WS toolbox sockets 1.1 over Linux/POSIX";
constexpr char kStatus[] = "Running";
// The largest IPv4 UDP payload: 65535 less the IP (20) and UDP (8) headers.
constexpr unsigned short kMaxUdpDatagram = 65507;

std::atomic<int> g_startups{0};

unsigned short maxSockets() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    // The field is 16 bits wide: a larger descriptor limit is shown as 65535
    // rather than wrapped to a small number.
    if (limit.rlim_cur == RLIM_INFINITY) return 65535;
    return static_cast<unsigned short>(std::min<rlim_t>(limit.rlim_cur, 65535));
}

} // namespace

bool socketsReady() {
    if (g_startups.load() > 0) return true;
    WSASetLastError(WSANOTINITIALISED);
    return false;
}

int WSAStartup(WORD versionRequested, WSADATA* data) {
    if (data == nullptr) return WSAEFAULT;
    const int major = versionRequested & 0xff;
    const int minor = (versionRequested >> 8) & 0xff;
    // Only 1.1 is offered: a request for a later version is answered with 1.1 and
    // the caller decides whether that will do, as Winsock does.
    *data = WSADATA{};
    data->wVersion = kVersion11;
    data->wHighVersion = kVersion11;
    std::strncpy(data->szDescription, kDescription, WSADESCRIPTION_LEN);
    std::strncpy(data->szSystemStatus, kStatus, WSASYS_STATUS_LEN);
    data->iMaxSockets = maxSockets();
    data->iMaxUdpDg = kMaxUdpDatagram;
    if (major < 1 || (major == 1 && minor < 1)) return WSAVERNOTSUPPORTED;
    // Taken while descriptors are plentiful, for the moment they are not.
    DescriptorReserve::instance().ensure();
    ++g_startups;
    return 0;
}

int WSACleanup() {
    int current = g_startups.load();
    do {
        if (current <= 0) return failWith(WSANOTINITIALISED);
    } while (!g_startups.compare_exchange_weak(current, current - 1));
    // Sockets left open stay open: each window closes its own before the frame's
    // final cleanup, and closing them behind a tool's back would only hide that.
    return 0;
}

} // namespace win
