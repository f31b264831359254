#include "platform/asynclookupservice.h"

#include "platform/hostlookup.h"
#include "platform/winsock.h"

#include <cstring>
#include <thread>

#include <sys/socket.h>

namespace win {

AsyncLookupService& AsyncLookupService::instance() {
    // Never destroyed: a worker may finish after main() has returned.
    static AsyncLookupService* service = new AsyncLookupService;
    return *service;
}

std::uintptr_t AsyncLookupService::start(HWND window, UINT msg, char* buf, int buflen,
                                         std::function<int(HostLookup&)> lookup) {
    std::uintptr_t handle = 0;
    {
        std::lock_guard lock(m_mutex);
        handle = m_nextHandle++;
        m_pending[handle] = Request{window, msg, buf, buflen};
    }
    std::thread([this, handle, lookup = std::move(lookup)] {
        HostLookup host;
        const int error = lookup(host);
        complete(handle, host, error);
    }).detach();
    return handle;
}

void AsyncLookupService::complete(std::uintptr_t handle, HostLookup& lookup, int error) {
    std::lock_guard lock(m_mutex);
    auto it = m_pending.find(handle);
    if (it == m_pending.end()) return;
    const Request request = it->second;
    m_pending.erase(it);
    const std::size_t room = request.buflen > 0 ? std::size_t(request.buflen) : 0;
    int length = 0;
    if (error == 0) {
        const std::size_t need = packHostEntry(*lookup.entry(), request.buf, room);
        // Too small a buffer: nothing is written and the completion carries the
        // length that would have been needed.
        length = int(need);
        if (need > room) error = WSAENOBUFS;
    } else {
        // A failed lookup leaves an empty entry where it fits, so a reader that
        // looks at the buffer anyway finds no name and no addresses.
        char* empty[] = {nullptr};
        hostent none{};
        none.h_name = const_cast<char*>("");
        none.h_aliases = empty;
        none.h_addrtype = AF_INET;
        none.h_length = 4;
        none.h_addr_list = empty;
        packHostEntry(none, request.buf, room);
    }
    request.window->postMessage(Message{request.msg, WPARAM(handle),
                                        WSAMAKEASYNCREPLY(length, error), 0});
}

bool AsyncLookupService::cancel(std::uintptr_t handle) {
    std::lock_guard lock(m_mutex);
    return m_pending.erase(handle) > 0;
}

void AsyncLookupService::detach(HWND window) {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_pending, [window](const auto& entry) { return entry.second.window == window; });
}

} // namespace win
