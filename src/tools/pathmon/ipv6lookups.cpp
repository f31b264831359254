#include "tools/pathmon/ipv6lookups.h"

#include "tools/icmp/echotarget.h"
#include "ui/toolwindow.h"

#include <thread>

namespace tools {

Ipv6Lookups::Ipv6Lookups(ui::ToolWindow& window, int event) : m_shared(std::make_shared<Shared>()) {
    m_shared->window = &window;
    m_shared->event = event;
}

Ipv6Lookups::~Ipv6Lookups() {
    detach();
}

void Ipv6Lookups::detach() {
    std::lock_guard lock(m_shared->mutex);
    m_shared->window = nullptr;
    m_shared->done.clear();
}

template <class Job> std::uintptr_t Ipv6Lookups::run(Job job) {
    const std::uintptr_t number = m_next++;
    // The worker is created on the window's thread, so it resolves in the
    // window's network and with its hosts file.
    std::thread([shared = m_shared, number, job = std::move(job)] {
        Result result = job();
        std::lock_guard lock(shared->mutex);
        if (shared->window == nullptr) return;
        shared->done[number] = std::move(result);
        shared->window->postUserEvent(shared->event, number);
    }).detach();
    return number;
}

std::uintptr_t Ipv6Lookups::target(const std::string& host) {
    return run([host] { return Result{Ipv6EchoTarget(host), {}, 0}; });
}

std::uintptr_t Ipv6Lookups::name(const net::SocketAddress& address, std::uint32_t key) {
    return run([address, key] { return Result{address, Ipv6HostName(address), key}; });
}

std::optional<Ipv6Lookups::Result> Ipv6Lookups::take(std::uintptr_t number) {
    std::lock_guard lock(m_shared->mutex);
    auto it = m_shared->done.find(number);
    if (it == m_shared->done.end()) return std::nullopt;
    Result result = std::move(it->second);
    m_shared->done.erase(it);
    return result;
}

} // namespace tools
