#pragma once
#include "platform/internet.h"

#include <atomic>
#include <memory>
#include <string>

namespace win::inet {

// What every handle of the internet library has: its value as the caller sees
// it, the context given with it and the callback its notifications go to.
class InternetHandle : public std::enable_shared_from_this<InternetHandle> {
public:
    InternetHandle(HINTERNET value, DWORD_PTR context, INTERNET_STATUS_CALLBACK callback)
        : m_value(value), m_context(context), m_callback(callback) {}
    virtual ~InternetHandle() = default;
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;

    HINTERNET value() const { return m_value; }
    DWORD_PTR context() const { return m_context; }
    INTERNET_STATUS_CALLBACK callback() const { return m_callback.load(); }
    INTERNET_STATUS_CALLBACK setCallback(INTERNET_STATUS_CALLBACK callback) {
        return m_callback.exchange(callback);
    }

private:
    HINTERNET m_value;
    DWORD_PTR m_context;
    std::atomic<INTERNET_STATUS_CALLBACK> m_callback;
};

// A session: how its requests reach the network. Set once when it is opened,
// except the time-outs, which InternetSetOptionA changes under the library's lock.
class InternetSession : public InternetHandle {
public:
    using InternetHandle::InternetHandle;

    std::string agent;
    DWORD accessType = INTERNET_OPEN_TYPE_DIRECT;
    std::string proxy;  // "host:port" as given
    std::string bypass; // host names that go direct
    long connectTimeoutMs = 60000;
    long receiveTimeoutMs = 30000;
};

// One status notification waiting on the library's thread to be delivered.
struct InternetNotification {
    std::shared_ptr<InternetHandle> handle;
    DWORD status = 0;
    std::string text; // the name, address or URL it carries
    DWORD count = 0;  // bytes sent or received
    INTERNET_ASYNC_RESULT result{};
    HINTERNET closing = nullptr;
};

} // namespace win::inet
