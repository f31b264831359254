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

} // namespace tools
