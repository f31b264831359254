#include "net/bindretry.h"

#include "net/holderlines.h"

#include <optional>

namespace net {
namespace {

int socketType(win::SOCKET socket) {
    int type = SOCK_STREAM;
    int length = sizeof type;
    win::getsockopt(socket, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length);
    return type;
}

} // namespace

int BindWithRetries(win::SOCKET socket, std::uint16_t& port,
                    const std::function<void(const std::string&)>& say,
                    const std::function<void()>& moved, std::size_t width) {
    // Who holds each port the server could not take, said before it moves on;
    // read once for all the attempts.
    std::optional<win::PortHolders> holders;
    for (int attempt = 1; attempt <= 10; ++attempt) {
        say("binding Socket...");
        win::sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = win::htons(port);
        if (win::bind(socket, reinterpret_cast<win::sockaddr*>(&address), sizeof address) == 0)
            return 0;
        const int error = win::WSAGetLastError();
        if (error != win::WSAEADDRINUSE) return error;
        if (!holders) holders.emplace(socketType(socket));
        for (const auto& line : holderLines(holders->find(port), width))
            say(line);
        if (port == 65535) return error;
        ++port;
        say("trying port: " + std::to_string(port));
        moved();
    }
    return 0;
}

} // namespace net
