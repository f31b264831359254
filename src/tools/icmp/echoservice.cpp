#include "tools/icmp/echoservice.h"

namespace tools {

win::DWORD EchoService::send(win::IPAddr destination, const win::IP_OPTION_INFORMATION* options,
                             win::EchoReply& reply) {
    // A handle per request, as the windows always did; ours are closed again,
    // though the service would not mind if they were not.
    const win::HANDLE handle = win::IcmpCreateFile();
    const win::DWORD replies = win::IcmpSendEcho(handle, destination, EchoData, EchoSize, options,
                                                 &reply, sizeof reply, TimeoutMs);
    win::IcmpCloseHandle(handle);
    return replies;
}

win::DWORD EchoService::send6(const win::sockaddr_in6& destination,
                              const win::IP_OPTION_INFORMATION* options, win::Echo6Reply& reply) {
    const win::HANDLE handle = win::Icmp6CreateFile();
    win::sockaddr_in6 source{};
    source.sin6_family = AF_INET6;
    const win::DWORD replies =
        win::Icmp6SendEcho2(handle, nullptr, nullptr, nullptr, &source, &destination, EchoData,
                            EchoSize, options, &reply, sizeof reply, TimeoutMs);
    win::IcmpCloseHandle(handle);
    return replies;
}

} // namespace tools
