#include "net/bindretry.h"

namespace net {

int BindWithRetries(win::SOCKET socket, std::uint16_t& port,
                    const std::function<void(const std::string&)>& say,
                    const std::function<void()>& moved) {
    for (int attempt = 1; attempt <= 10; ++attempt) {
        say("binding Socket...");
        win::sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = win::htons(port);
        if (win::bind(socket, reinterpret_cast<win::sockaddr*>(&address), sizeof address) == 0)
            return 0;
        const int error = win::WSAGetLastError();
        if (error != win::WSAEADDRINUSE || port == 65535) return error;
        ++port;
        say("trying port: " + std::to_string(port));
        moved();
    }
    return 0;
}

} // namespace net
