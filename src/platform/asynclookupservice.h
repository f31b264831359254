#pragma once
#include "platform/message.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_map>

namespace win {

class HostLookup;

// The asynchronous host lookups: each runs on a worker thread of its own, then its
// entry is written into the caller's buffer and the completion posted, both under
// the lock that cancel() and detach() take, so a cancelled or detached request
// never writes or posts.
class AsyncLookupService {
public:
    static AsyncLookupService& instance();

    // `lookup` runs on the worker and returns 0 or a Winsock error. Returns the
    // request's handle (never 0).
    std::uintptr_t start(HWND window, UINT msg, char* buf, int buflen,
                         std::function<int(HostLookup&)> lookup);
    // True when the request was still pending and is now dropped.
    bool cancel(std::uintptr_t handle);
    void detach(HWND window);

private:
    struct Request {
        HWND window = nullptr;
        UINT msg = 0;
        char* buf = nullptr;
        int buflen = 0;
    };

    void complete(std::uintptr_t handle, HostLookup& lookup, int error);

    std::mutex m_mutex;
    std::unordered_map<std::uintptr_t, Request> m_pending;
    std::uintptr_t m_nextHandle = 1;
};

} // namespace win
