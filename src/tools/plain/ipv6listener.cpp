#include "tools/plain/ipv6listener.h"

#include "net/socketaddress.h"
#include "net/socketeventhook.h"

namespace tools {

Ipv6Listener Ipv6Listener::open(int type, std::uint16_t port, bool reuseAddress, int backlog,
                                win::HWND window) {
    Ipv6Listener result;
    const win::SOCKET s = win::socket(AF_INET6, type, 0);
    if (s == win::INVALID_SOCKET) {
        result.error = win::WSAGetLastError();
        return result;
    }
    const int on = 1;
    const auto option = reinterpret_cast<const char*>(&on);
    const net::SocketAddress any = net::SocketAddress::any(AF_INET6, port);
    const bool ok =
        win::setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, option, sizeof on) == 0 &&
        (!reuseAddress || win::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, option, sizeof on) == 0) &&
        win::bind(s, any.data(), any.size()) == 0 &&
        (type != SOCK_STREAM || win::listen(s, backlog) == 0) &&
        win::WSAAsyncSelect(s, window, net::SocketNotifyMessage,
                            win::FD_READ | win::FD_ACCEPT | win::FD_CLOSE) == 0;
    if (!ok) {
        result.error = win::WSAGetLastError();
        win::closesocket(s);
        return result;
    }
    result.socket = s;
    return result;
}

} // namespace tools
