#pragma once
#include "platform/internethandle.h"

#include <condition_variable>
#include <curl/curl.h>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace win::inet {

class InternetRequest;

// The internet library of the process: its handles, and its own thread, which
// drives every transfer through one libcurl multi handle and delivers every
// status notification. Other threads hand work to that thread as jobs and wake it.
//
// Notifications are collected while libcurl runs and delivered right after each
// libcurl call returns, in the order they were made: the callbacks never run
// inside libcurl, so they may call the library again, and a completion is
// reported only after the data it completes has been handed over.
class InternetLibrary {
public:
    static InternetLibrary& instance();
    ~InternetLibrary();
    InternetLibrary(const InternetLibrary&) = delete;
    InternetLibrary& operator=(const InternetLibrary&) = delete;

    // --- the calls, from any thread; `error` is set when they fail ---------------
    HINTERNET openSession(const char* agent, DWORD accessType, const char* proxy,
                          const char* bypass, DWORD flags, DWORD& error);
    INTERNET_STATUS_CALLBACK setCallback(HINTERNET handle, INTERNET_STATUS_CALLBACK callback);
    HINTERNET openUrl(HINTERNET session, const char* url, const char* headers, DWORD headersLength,
                      DWORD flags, DWORD_PTR context, DWORD& error);
    BOOL read(HINTERNET file, void* buffer, DWORD toRead, DWORD* read, DWORD& error);
    // The status code of an opened URL's response; 0 with the error set when
    // there is none (not a URL handle, or not opened yet).
    int status(HINTERNET file, DWORD& error);
    BOOL close(HINTERNET handle, DWORD& error);
    BOOL setOption(HINTERNET handle, DWORD option, const void* buffer, DWORD length, DWORD& error);

    // --- for the requests ----------------------------------------------------------
    std::mutex& mutex() { return m_mutex; }
    // Runs `job` on the library's thread.
    void post(std::function<void()> job);
    // The library's thread only: a notification to deliver, and the newest one
    // not yet delivered (null when none).
    void queue(InternetNotification notification);
    InternetNotification* lastQueued();
    // The library's thread only: a socket opened for the request's connection.
    void socketOpened(curl_socket_t socket, const std::shared_ptr<InternetRequest>& request);
    static int onCloseSocket(void* library, curl_socket_t socket);

private:
    InternetLibrary();
    void run();
    void runJobs();
    void collectFinished();
    void deliver();
    long pollMilliseconds() const;
    // The library's thread: the transfers go, with their notifications.
    void closeNodes(const std::vector<std::shared_ptr<InternetHandle>>& nodes);
    HINTERNET nextValue();
    std::shared_ptr<InternetHandle> find(HINTERNET handle) const;

    std::mutex m_mutex; // guards the handles, the jobs and every request's reader state
    std::map<HINTERNET, std::shared_ptr<InternetHandle>> m_handles;
    std::uintptr_t m_lastValue = 0;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;

    // --- the library's thread only ---
    CURLM* m_multi = nullptr;
    std::vector<std::shared_ptr<InternetRequest>> m_active;
    std::deque<InternetNotification> m_outbox;
    std::vector<std::shared_ptr<std::promise<void>>> m_afterDelivery;
    std::map<curl_socket_t, std::weak_ptr<InternetRequest>> m_sockets;

    std::thread m_thread;
};

} // namespace win::inet
