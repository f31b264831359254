#pragma once
#include "net/socketaddress.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace ui {
class ToolWindow;
}

namespace tools {

// The path monitor's IPv6 look-ups, each on a worker of its own so that the
// window never waits on a resolver: a host's address (a name with only IPv6
// addresses) and a hop's reverse name. A finished look-up posts `event` to the
// window with its number as wParam; the window takes the result on its thread.
class Ipv6Lookups {
public:
    struct Result {
        net::SocketAddress address; // a target look-up's answer (empty: not found)
        std::string name;           // a reverse look-up's (empty: none)
        std::uint32_t key = 0;      // what the caller asked about
    };

    Ipv6Lookups(ui::ToolWindow& window, int event);
    ~Ipv6Lookups();
    Ipv6Lookups(const Ipv6Lookups&) = delete;
    Ipv6Lookups& operator=(const Ipv6Lookups&) = delete;

    // The look-up's number.
    std::uintptr_t target(const std::string& host);
    std::uintptr_t name(const net::SocketAddress& address, std::uint32_t key);
    std::optional<Result> take(std::uintptr_t number);
    // Workers still out finish without a word: for the window's close.
    void detach();

private:
    struct Shared {
        std::mutex mutex;
        ui::ToolWindow* window = nullptr;
        int event = 0;
        std::map<std::uintptr_t, Result> done;
    };
    template <class Job> std::uintptr_t run(Job job);

    std::shared_ptr<Shared> m_shared;
    std::uintptr_t m_next = 1;
};

} // namespace tools
