#pragma once
#include "platform/internethandle.h"

#include <chrono>
#include <curl/curl.h>
#include <optional>
#include <string>

namespace win::inet {

class InternetLibrary;

// One URL opened beneath a session: a libcurl transfer whose own hooks report
// each step as it happens, and the body bytes that arrived but were not read yet.
//
// Like the Windows library, it fetches from the network only what a reader asks
// for: after the response headers it takes one block and then holds the transfer
// (libcurl's pause) until a read needs more. So the body moves at the reader's
// pace, at most one block waits in memory, and every read that has to go to the
// network shows "receiving" and "received" notifications of its own.
//
// Threads: the libcurl handle and the hooks belong to the library's thread; the
// body buffer, the pending read and the state a reader looks at are guarded by
// the library's mutex.
class InternetRequest : public InternetHandle {
public:
    InternetRequest(InternetLibrary& library, HINTERNET value, DWORD_PTR context,
                    INTERNET_STATUS_CALLBACK callback, std::shared_ptr<InternetSession> session,
                    std::string url, std::string headers, DWORD flags);
    ~InternetRequest() override;

    const std::shared_ptr<InternetSession>& session() const { return m_session; }

    // --- the library's thread --------------------------------------------------
    // Makes the transfer and adds it to `multi`: HANDLE_CREATED first.
    void start(CURLM* multi);
    // A read is waiting: the held transfer goes on.
    void resume();
    // libcurl is done with the transfer (CURLMSG_DONE).
    void finished(CURLcode result);
    // Ends the transfer with `error` unless it has ended already.
    void abort(DWORD error);
    // No byte arrived for longer than the receive time-out while one was awaited.
    bool timedOut(std::chrono::steady_clock::time_point now) const;
    std::optional<std::chrono::steady_clock::time_point> deadline() const;
    // The transfer goes (its connection closes, with its notifications).
    void close();
    // libcurl closes the connection's socket: before and after.
    void connectionClosing();
    void connectionClosed();

    // --- under the library's mutex, any thread -----------------------------------
    // InternetReadFile: TRUE when done at once; FALSE with the error, which is
    // ERROR_IO_PENDING when the read waits (the library's thread is then asked
    // to resume the transfer).
    BOOL read(void* buffer, DWORD toRead, DWORD* read, DWORD& error);
    // The handle is being closed: a pending read is forgotten, nothing more is
    // written into its buffer.
    void cancel();
    // The status code of the response the open completed with; 0 before.
    int status() const { return m_openedStatus; }

private:
    // libcurl's hooks (the library's thread).
    static int onResolverStart(void* resolverState, void* reserved, void* self);
    static curl_socket_t onOpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address);
    static int onDebug(CURL* easy, curl_infotype type, char* data, std::size_t size, void* self);
    static int onPrerequest(void* self, char* remoteIp, char* localIp, int remotePort,
                            int localPort);
    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t onWrite(char* data, std::size_t size, std::size_t count, void* self);

    void configure();
    void queue(DWORD status, std::string text = {}, DWORD count = 0);
    void queueResult(DWORD status, DWORD_PTR result, DWORD error);
    void connected(const std::string& address);
    void end(DWORD error);
    void received(std::size_t bytes);
    void headerLine(const std::string& line);
    void awaitData();
    std::size_t take(const char* data, std::size_t size);
    void completeRead(BOOL result, DWORD error);

    InternetLibrary& m_library;
    std::shared_ptr<InternetSession> m_session;
    std::string m_url;     // the URL now being fetched (a redirect changes it)
    std::string m_headers; // extra request headers, CR LF separated
    DWORD m_flags;
    long m_connectTimeoutMs; // the session's, when the URL was opened
    long m_receiveTimeoutMs;

    // --- the library's thread only ---
    CURL* m_easy = nullptr;
    CURLM* m_multi = nullptr; // set while the transfer is in it
    curl_slist* m_headerList = nullptr;
    bool m_resolved = false;  // NAME_RESOLVED reported for this name
    bool m_connected = false; // CONNECTED_TO_SERVER reported for this connection
    bool m_closingConnected = false;
    std::string m_address;     // of the connection being made
    bool m_requesting = false; // SENDING_REQUEST reported on this connection
    bool m_paused = false;     // the write hook held the transfer
    int m_status = 0;          // of the response whose headers are coming in
    std::string m_location;    // its Location header
    bool m_awaiting = false;   // a byte from the server is awaited
    std::chrono::steady_clock::time_point m_lastProgress;

    // --- under the library's mutex ---
    bool m_opened = false; // the open has completed
    int m_openedStatus = 0; // the status it completed with
    bool m_done = false;   // the transfer has ended
    DWORD m_error = 0;     // how it ended
    std::string m_body;    // arrived, not read yet
    struct PendingRead {
        char* buffer = nullptr;
        DWORD size = 0;
        DWORD* read = nullptr;
    };
    std::optional<PendingRead> m_pending;
};

} // namespace win::inet
