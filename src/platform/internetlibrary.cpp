#include "platform/internetlibrary.h"

#include "platform/internetrequest.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

namespace win::inet {
namespace {

using Clock = std::chrono::steady_clock;

// How long the library's thread sleeps at most with transfers under way (libcurl
// wakes it sooner for its own time-outs) and with none (a job wakes it).
constexpr long kBusyPollMs = 1000;
constexpr long kIdlePollMs = 60000;

std::shared_ptr<InternetRequest> asRequest(const std::shared_ptr<InternetHandle>& handle) {
    return std::dynamic_pointer_cast<InternetRequest>(handle);
}

// The scheme of a URL, lower-cased; empty when the text has none.
std::string schemeOf(const std::string& url) {
    const std::size_t end = url.find("://");
    if (end == std::string::npos || end == 0) return {};
    std::string scheme = url.substr(0, end);
    for (char& c : scheme) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
            return {};
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return scheme;
}

bool wellFormed(const std::string& url) {
    CURLU* u = curl_url();
    const bool ok = u && curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK;
    curl_url_cleanup(u);
    return ok;
}

} // namespace

InternetLibrary& InternetLibrary::instance() {
    static InternetLibrary library;
    return library;
}

InternetLibrary::InternetLibrary() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    m_multi = curl_multi_init();
    m_thread = std::thread([this] { run(); });
}

InternetLibrary::~InternetLibrary() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    curl_multi_wakeup(m_multi);
    if (m_thread.joinable()) m_thread.join();
    curl_multi_cleanup(m_multi);
    curl_global_cleanup();
}

// --- the calls -------------------------------------------------------------------------

HINTERNET InternetLibrary::nextValue() {
    // Values are never used twice, so a stale handle is never taken for a new one.
    return reinterpret_cast<HINTERNET>(++m_lastValue);
}

std::shared_ptr<InternetHandle> InternetLibrary::find(HINTERNET handle) const {
    const auto it = m_handles.find(handle);
    return it == m_handles.end() ? nullptr : it->second;
}

HINTERNET InternetLibrary::openSession(const char* agent, DWORD accessType, const char* proxy,
                                       const char* bypass, DWORD flags, DWORD& error) {
    const bool known = accessType == INTERNET_OPEN_TYPE_DIRECT ||
                       accessType == INTERNET_OPEN_TYPE_PROXY ||
                       accessType == INTERNET_OPEN_TYPE_PRECONFIG;
    // Only the asynchronous mode is offered: nothing here waits for the network.
    if (!known || (flags & INTERNET_FLAG_ASYNC) == 0 ||
        (accessType == INTERNET_OPEN_TYPE_PROXY && (!proxy || !*proxy))) {
        error = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    std::lock_guard lock(m_mutex);
    const HINTERNET value = nextValue();
    auto session = std::make_shared<InternetSession>(value, 0, nullptr);
    session->agent = agent ? agent : "";
    session->accessType = accessType;
    if (accessType == INTERNET_OPEN_TYPE_PROXY) {
        session->proxy = proxy;
        session->bypass = bypass ? bypass : "";
    }
    m_handles[value] = session;
    return value;
}

INTERNET_STATUS_CALLBACK InternetLibrary::setCallback(HINTERNET handle,
                                                      INTERNET_STATUS_CALLBACK callback) {
    std::lock_guard lock(m_mutex);
    const auto node = find(handle);
    return node ? node->setCallback(callback) : INTERNET_INVALID_STATUS_CALLBACK;
}

HINTERNET InternetLibrary::openUrl(HINTERNET session, const char* url, const char* headers,
                                   DWORD headersLength, DWORD flags, DWORD_PTR context,
                                   DWORD& error) {
    if (!url) {
        error = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    const std::string target = url;
    // The URL is judged at once, as on Windows; only the network is asynchronous.
    const std::string scheme = schemeOf(target);
    if (scheme != "http" && scheme != "https") {
        error = ERROR_INTERNET_UNRECOGNIZED_SCHEME;
        return nullptr;
    }
    if (!wellFormed(target)) {
        error = ERROR_INTERNET_INVALID_URL;
        return nullptr;
    }
    std::string extra;
    if (headers)
        extra = headersLength == static_cast<DWORD>(-1) ? std::string(headers)
                                                        : std::string(headers, headersLength);
    std::shared_ptr<InternetRequest> request;
    {
        std::lock_guard lock(m_mutex);
        const auto node = std::dynamic_pointer_cast<InternetSession>(find(session));
        if (!node) {
            error = find(session) ? ERROR_INTERNET_INCORRECT_HANDLE_TYPE : ERROR_INVALID_HANDLE;
            return nullptr;
        }
        const HINTERNET value = nextValue();
        request = std::make_shared<InternetRequest>(*this, value, context, node->callback(), node,
                                                    target, std::move(extra), flags);
        m_handles[value] = request;
    }
    post([this, request] {
        {
            // Closed before it could start: nothing to do.
            std::lock_guard lock(m_mutex);
            if (find(request->value()) != request) return;
        }
        m_active.push_back(request);
        request->start(m_multi);
    });
    error = ERROR_IO_PENDING;
    return nullptr;
}

BOOL InternetLibrary::read(HINTERNET file, void* buffer, DWORD toRead, DWORD* read, DWORD& error) {
    std::shared_ptr<InternetRequest> request;
    BOOL result = FALSE;
    {
        std::lock_guard lock(m_mutex);
        const auto node = find(file);
        request = asRequest(node);
        if (!request) {
            error = node ? ERROR_INTERNET_INCORRECT_HANDLE_TYPE : ERROR_INVALID_HANDLE;
            return FALSE;
        }
        result = request->read(buffer, toRead, read, error);
    }
    if (!result && error == ERROR_IO_PENDING) post([request] { request->resume(); });
    return result;
}

int InternetLibrary::status(HINTERNET file, DWORD& error) {
    std::lock_guard lock(m_mutex);
    const auto node = find(file);
    const auto request = asRequest(node);
    if (!request) {
        error = node ? ERROR_INTERNET_INCORRECT_HANDLE_TYPE : ERROR_INVALID_HANDLE;
        return 0;
    }
    if (request->status() == 0) error = ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    return request->status();
}

BOOL InternetLibrary::close(HINTERNET handle, DWORD& error) {
    std::vector<std::shared_ptr<InternetHandle>> nodes;
    {
        std::lock_guard lock(m_mutex);
        const auto node = find(handle);
        if (!node) {
            error = ERROR_INVALID_HANDLE;
            return FALSE;
        }
        // A session takes the URLs opened beneath it along, before itself.
        if (std::dynamic_pointer_cast<InternetSession>(node)) {
            for (const auto& [value, other] : m_handles) {
                const auto request = asRequest(other);
                if (request && request->session() == node) nodes.push_back(other);
            }
        }
        nodes.push_back(node);
        for (const auto& n : nodes) {
            m_handles.erase(n->value());
            if (const auto request = asRequest(n)) request->cancel();
        }
        if (m_stopping) return TRUE;
    }
    if (std::this_thread::get_id() == m_thread.get_id()) {
        // From a callback: done here, its notifications delivered right after it.
        closeNodes(nodes);
        return TRUE;
    }
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> delivered = done->get_future();
    post([this, nodes, done] {
        closeNodes(nodes);
        m_afterDelivery.push_back(done);
    });
    delivered.wait();
    return TRUE;
}

BOOL InternetLibrary::setOption(HINTERNET handle, DWORD option, const void* buffer, DWORD length,
                                DWORD& error) {
    if (option != INTERNET_OPTION_CONNECT_TIMEOUT && option != INTERNET_OPTION_RECEIVE_TIMEOUT) {
        error = ERROR_INTERNET_INVALID_OPTION;
        return FALSE;
    }
    if (!buffer) {
        error = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if (length != sizeof(DWORD)) {
        error = ERROR_INTERNET_BAD_OPTION_LENGTH;
        return FALSE;
    }
    DWORD milliseconds = 0;
    std::memcpy(&milliseconds, buffer, sizeof milliseconds);
    std::lock_guard lock(m_mutex);
    const auto node = find(handle);
    const auto session = std::dynamic_pointer_cast<InternetSession>(node);
    if (!session) {
        error = node ? ERROR_INTERNET_INCORRECT_HANDLE_TYPE : ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (option == INTERNET_OPTION_CONNECT_TIMEOUT)
        session->connectTimeoutMs = static_cast<long>(milliseconds);
    else
        session->receiveTimeoutMs = static_cast<long>(milliseconds);
    return TRUE;
}

// --- for the requests -----------------------------------------------------------------

void InternetLibrary::post(std::function<void()> job) {
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    curl_multi_wakeup(m_multi);
}

void InternetLibrary::queue(InternetNotification notification) {
    m_outbox.push_back(std::move(notification));
}

InternetNotification* InternetLibrary::lastQueued() {
    return m_outbox.empty() ? nullptr : &m_outbox.back();
}

void InternetLibrary::socketOpened(curl_socket_t socket,
                                   const std::shared_ptr<InternetRequest>& request) {
    m_sockets[socket] = request;
}

int InternetLibrary::onCloseSocket(void* library, curl_socket_t socket) {
    auto* self = static_cast<InternetLibrary*>(library);
    std::shared_ptr<InternetRequest> request;
    const auto it = self->m_sockets.find(socket);
    if (it != self->m_sockets.end()) {
        request = it->second.lock();
        self->m_sockets.erase(it);
    }
    if (request) request->connectionClosing();
    const int result = ::close(socket);
    if (request) request->connectionClosed();
    return result;
}

// --- the library's thread ----------------------------------------------------------------

void InternetLibrary::run() {
    pthread_setname_np(pthread_self(), "internet");
    for (;;) {
        runJobs();
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping) break;
        }
        if (!m_active.empty()) {
            int running = 0;
            curl_multi_perform(m_multi, &running);
        }
        collectFinished();
        const auto now = Clock::now();
        for (const auto& request : m_active)
            if (request->timedOut(now)) request->abort(ERROR_INTERNET_TIMEOUT);
        deliver();
        for (const auto& done : m_afterDelivery)
            done->set_value();
        m_afterDelivery.clear();
        {
            std::lock_guard lock(m_mutex);
            if (!m_jobs.empty()) continue;
        }
        curl_multi_poll(m_multi, nullptr, 0, static_cast<int>(pollMilliseconds()), nullptr);
    }
    // The process is ending: whatever is still open goes without notifications,
    // as nobody is left to receive them.
    for (const auto& request : m_active)
        request->close();
    m_active.clear();
    m_outbox.clear();
    for (const auto& done : m_afterDelivery)
        done->set_value();
    m_afterDelivery.clear();
}

void InternetLibrary::runJobs() {
    std::deque<std::function<void()>> jobs;
    {
        std::lock_guard lock(m_mutex);
        jobs.swap(m_jobs);
    }
    for (auto& job : jobs)
        job();
}

void InternetLibrary::collectFinished() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        InternetRequest* request = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &request);
        const CURLcode result = message->data.result;
        if (request) request->finished(result);
    }
}

long InternetLibrary::pollMilliseconds() const {
    if (m_active.empty()) return kIdlePollMs;
    long wait = kBusyPollMs;
    const auto now = Clock::now();
    for (const auto& request : m_active) {
        if (const auto deadline = request->deadline()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - now).count() + 1;
            wait = std::clamp<long>(left, 0, wait);
        }
    }
    return wait;
}

void InternetLibrary::deliver() {
    // A callback may close handles, which drops their undelivered notifications
    // and adds their closing ones: the queue is read afresh for every one.
    while (!m_outbox.empty()) {
        InternetNotification n = std::move(m_outbox.front());
        m_outbox.pop_front();
        const INTERNET_STATUS_CALLBACK callback = n.handle->callback();
        if (!callback) continue;
        void* information = nullptr;
        DWORD length = 0;
        switch (n.status) {
        case INTERNET_STATUS_RESOLVING_NAME:
        case INTERNET_STATUS_NAME_RESOLVED:
        case INTERNET_STATUS_CONNECTING_TO_SERVER:
        case INTERNET_STATUS_CONNECTED_TO_SERVER:
        case INTERNET_STATUS_REDIRECT:
            information = n.text.data();
            length = static_cast<DWORD>(n.text.size() + 1);
            break;
        case INTERNET_STATUS_REQUEST_SENT:
        case INTERNET_STATUS_RESPONSE_RECEIVED:
            information = &n.count;
            length = sizeof n.count;
            break;
        case INTERNET_STATUS_HANDLE_CREATED:
        case INTERNET_STATUS_REQUEST_COMPLETE:
            information = &n.result;
            length = sizeof n.result;
            break;
        case INTERNET_STATUS_HANDLE_CLOSING:
            information = &n.closing;
            length = sizeof n.closing;
            break;
        default:
            break;
        }
        callback(n.handle->value(), n.handle->context(), n.status, information, length);
    }
}

void InternetLibrary::closeNodes(const std::vector<std::shared_ptr<InternetHandle>>& nodes) {
    for (const auto& node : nodes) {
        std::erase_if(m_outbox, [&](const InternetNotification& n) { return n.handle == node; });
        if (const auto request = asRequest(node)) {
            request->close();
            std::erase(m_active, request);
        }
        InternetNotification closing;
        closing.handle = node;
        closing.status = INTERNET_STATUS_HANDLE_CLOSING;
        closing.closing = node->value();
        queue(std::move(closing));
    }
}

} // namespace win::inet
