#include "platform/internetrequest.h"

#include "platform/interneterror.h"
#include "platform/internetlibrary.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace win::inet {
namespace {

using Clock = std::chrono::steady_clock;

// The redirects libcurl follows by itself; a 300 or 304 is an answer of its own.
constexpr int kRedirects[] = {301, 302, 303, 307, 308};
constexpr long kMaxRedirects = 10;

std::string addressText(const curl_sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address->family == AF_INET) {
        sockaddr_in a{};
        std::memcpy(&a, &address->addr, sizeof a);
        ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    } else if (address->family == AF_INET6) {
        sockaddr_in6 a{};
        std::memcpy(&a, &address->addr, sizeof a);
        ::inet_ntop(AF_INET6, &a.sin6_addr, text, sizeof text);
    }
    return text;
}

// A URL part as libcurl's parser sees it; empty when there is none.
std::string urlPart(const std::string& url, CURLUPart part) {
    std::string value;
    CURLU* u = curl_url();
    if (u && curl_url_set(u, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
        char* text = nullptr;
        if (curl_url_get(u, part, &text, 0) == CURLUE_OK && text) value = text;
        curl_free(text);
    }
    curl_url_cleanup(u);
    return value;
}

// Where a Location header leads from `base`, the way the redirect will follow it.
std::string followLocation(const std::string& base, const std::string& location) {
    std::string target = location;
    CURLU* u = curl_url();
    if (u && curl_url_set(u, CURLUPART_URL, base.c_str(), 0) == CURLUE_OK &&
        curl_url_set(u, CURLUPART_URL, location.c_str(), 0) == CURLUE_OK) {
        char* text = nullptr;
        if (curl_url_get(u, CURLUPART_URL, &text, 0) == CURLUE_OK && text) target = text;
        curl_free(text);
    }
    curl_url_cleanup(u);
    return target;
}

// The proxy as libcurl names it: "host:port" is an HTTP proxy.
std::string proxyUrl(const std::string& proxy) {
    return proxy.find("://") == std::string::npos ? "http://" + proxy : proxy;
}

// The Windows bypass list separates names with ";" or blanks, libcurl with ",".
std::string noProxyList(std::string bypass) {
    std::replace(bypass.begin(), bypass.end(), ';', ',');
    std::replace(bypass.begin(), bypass.end(), ' ', ',');
    return bypass;
}

std::string lowerCase(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string withoutLineEnd(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    return s;
}

const char* environment(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

} // namespace

InternetRequest::InternetRequest(InternetLibrary& library, HINTERNET value, DWORD_PTR context,
                                 INTERNET_STATUS_CALLBACK callback,
                                 std::shared_ptr<InternetSession> session, std::string url,
                                 std::string headers, DWORD flags)
    : InternetHandle(value, context, callback), m_library(library), m_session(std::move(session)),
      m_url(std::move(url)), m_headers(std::move(headers)), m_flags(flags),
      m_connectTimeoutMs(m_session->connectTimeoutMs),
      m_receiveTimeoutMs(m_session->receiveTimeoutMs) {}

InternetRequest::~InternetRequest() {
    if (m_easy) curl_easy_cleanup(m_easy);
    curl_slist_free_all(m_headerList);
}

// --- the library's thread ------------------------------------------------------------

void InternetRequest::start(CURLM* multi) {
    queueResult(INTERNET_STATUS_HANDLE_CREATED, reinterpret_cast<DWORD_PTR>(value()), 0);
    m_easy = curl_easy_init();
    if (!m_easy) {
        end(ERROR_NOT_ENOUGH_MEMORY);
        return;
    }
    configure();
    m_lastProgress = Clock::now();
    if (curl_multi_add_handle(multi, m_easy) != CURLM_OK) {
        end(ERROR_INTERNET_INTERNAL_ERROR);
        return;
    }
    m_multi = multi;
}

void InternetRequest::configure() {
    CURL* e = m_easy;
    curl_easy_setopt(e, CURLOPT_URL, m_url.c_str());
    curl_easy_setopt(e, CURLOPT_PRIVATE, this);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // The Windows library speaks HTTP/1.1, also over TLS.
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    if (!m_session->agent.empty()) curl_easy_setopt(e, CURLOPT_USERAGENT, m_session->agent.c_str());
    const bool follow = (m_flags & INTERNET_FLAG_NO_AUTO_REDIRECT) == 0;
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
    // Every request resolves its name and makes its own connection, closed when
    // it ends: each shows every step, and the end of a connection is its own.
    curl_easy_setopt(e, CURLOPT_DNS_CACHE_TIMEOUT, 0L);
    curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, m_connectTimeoutMs);

    if (m_session->accessType == INTERNET_OPEN_TYPE_DIRECT) {
        // Direct means direct, whatever proxy the environment names.
        curl_easy_setopt(e, CURLOPT_PROXY, "");
    } else if (m_session->accessType == INTERNET_OPEN_TYPE_PROXY) {
        curl_easy_setopt(e, CURLOPT_PROXY, proxyUrl(m_session->proxy).c_str());
        if (!m_session->bypass.empty())
            curl_easy_setopt(e, CURLOPT_NOPROXY, noProxyList(m_session->bypass).c_str());
    }
    // A tunnel's own answer is the proxy's business, not the response's headers.
    curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);

    // The system's certificate store is libcurl's default; SSL_CERT_FILE and
    // SSL_CERT_DIR replace it as they do for every OpenSSL program.
    if (const char* file = environment("SSL_CERT_FILE")) curl_easy_setopt(e, CURLOPT_CAINFO, file);
    if (const char* dir = environment("SSL_CERT_DIR")) curl_easy_setopt(e, CURLOPT_CAPATH, dir);
    if (m_flags & INTERNET_FLAG_IGNORE_CERT_CN_INVALID)
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);

    std::size_t start = 0;
    while (start < m_headers.size()) {
        std::size_t end = m_headers.find('\n', start);
        if (end == std::string::npos) end = m_headers.size();
        const std::string line = withoutLineEnd(m_headers.substr(start, end - start));
        if (!line.empty()) m_headerList = curl_slist_append(m_headerList, line.c_str());
        start = end + 1;
    }
    if (m_headerList) curl_easy_setopt(e, CURLOPT_HTTPHEADER, m_headerList);

    curl_easy_setopt(e, CURLOPT_RESOLVER_START_FUNCTION, &InternetRequest::onResolverStart);
    curl_easy_setopt(e, CURLOPT_RESOLVER_START_DATA, this);
    curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, &InternetRequest::onOpenSocket);
    curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, this);
    // Sockets may outlive a request inside libcurl: their closing goes to the
    // library, which knows whether the request is still there.
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETFUNCTION, &InternetLibrary::onCloseSocket);
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETDATA, &m_library);
    curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &InternetRequest::onPrerequest);
    curl_easy_setopt(e, CURLOPT_PREREQDATA, this);
    curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, &InternetRequest::onDebug);
    curl_easy_setopt(e, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(e, CURLOPT_VERBOSE, 1L); // libcurl calls the debug hook only then
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &InternetRequest::onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &InternetRequest::onWrite);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
}

void InternetRequest::resume() {
    {
        std::lock_guard lock(m_library.mutex());
        if (!m_pending) return;
    }
    if (m_paused && m_easy) {
        // The held block may answer the read at once, from inside this call.
        m_paused = false;
        curl_easy_pause(m_easy, CURLPAUSE_CONT);
    }
    {
        std::lock_guard lock(m_library.mutex());
        if (!m_pending) return;
    }
    awaitData();
}

void InternetRequest::finished(CURLcode result) {
    long osErrno = 0;
    long verifyResult = 0;
    curl_easy_getinfo(m_easy, CURLINFO_OS_ERRNO, &osErrno);
    curl_easy_getinfo(m_easy, CURLINFO_SSL_VERIFYRESULT, &verifyResult);
    if (m_multi) {
        curl_multi_remove_handle(m_multi, m_easy);
        m_multi = nullptr;
    }
    end(internetErrorFromCurl(result, osErrno, verifyResult));
}

void InternetRequest::abort(DWORD error) {
    if (m_multi) {
        // Taken out unfinished: libcurl closes the connection here.
        curl_multi_remove_handle(m_multi, m_easy);
        m_multi = nullptr;
    }
    end(error);
}

void InternetRequest::end(DWORD error) {
    m_awaiting = false;
    std::lock_guard lock(m_library.mutex());
    if (m_done) return;
    m_done = true;
    m_error = error;
    if (!m_opened) {
        // Ended before any headers: the open fails (or, with no error, the
        // answer had no headers at all and is all body).
        m_opened = true;
        queueResult(INTERNET_STATUS_REQUEST_COMPLETE,
                    error ? 0 : reinterpret_cast<DWORD_PTR>(value()), error);
    }
    // A read waits only on an empty buffer: it gets the end of the data, or the error.
    if (m_pending) completeRead(error ? FALSE : TRUE, error);
}

bool InternetRequest::timedOut(Clock::time_point now) const {
    return m_awaiting && now - m_lastProgress > std::chrono::milliseconds(m_receiveTimeoutMs);
}

std::optional<Clock::time_point> InternetRequest::deadline() const {
    if (!m_awaiting) return std::nullopt;
    return m_lastProgress + std::chrono::milliseconds(m_receiveTimeoutMs);
}

void InternetRequest::close() {
    if (m_multi) {
        curl_multi_remove_handle(m_multi, m_easy);
        m_multi = nullptr;
    }
    if (m_easy) {
        curl_easy_cleanup(m_easy);
        m_easy = nullptr;
    }
    m_awaiting = false;
}

void InternetRequest::connectionClosing() {
    // Only a connection that was made is closed; a refused attempt just ends.
    m_closingConnected = m_connected;
    if (m_closingConnected) queue(INTERNET_STATUS_CLOSING_CONNECTION);
}

void InternetRequest::connectionClosed() {
    if (m_closingConnected) queue(INTERNET_STATUS_CONNECTION_CLOSED);
    m_closingConnected = false;
    m_connected = false;
}

// --- the hooks -----------------------------------------------------------------

int InternetRequest::onResolverStart(void*, void*, void* self) {
    auto* r = static_cast<InternetRequest*>(self);
    r->m_resolved = false;
    // With a proxy it is the proxy's name that is looked up.
    const bool proxied =
        r->m_session->accessType == INTERNET_OPEN_TYPE_PROXY && !r->m_session->proxy.empty();
    r->queue(INTERNET_STATUS_RESOLVING_NAME,
             urlPart(proxied ? proxyUrl(r->m_session->proxy) : r->m_url, CURLUPART_HOST));
    return 0;
}

curl_socket_t InternetRequest::onOpenSocket(void* self, curlsocktype purpose,
                                            curl_sockaddr* address) {
    auto* r = static_cast<InternetRequest*>(self);
    const int fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (purpose != CURLSOCKTYPE_IPCXN) return fd < 0 ? CURL_SOCKET_BAD : fd;
    // The first address tried is the end of the name's lookup.
    const std::string text = addressText(address);
    if (!r->m_resolved) {
        r->m_resolved = true;
        r->queue(INTERNET_STATUS_NAME_RESOLVED, text);
    }
    r->m_connected = false;
    r->m_requesting = false;
    r->m_address = text;
    r->queue(INTERNET_STATUS_CONNECTING_TO_SERVER, text);
    if (fd < 0) return CURL_SOCKET_BAD;
    r->m_library.socketOpened(fd, std::static_pointer_cast<InternetRequest>(r->shared_from_this()));
    return fd;
}

int InternetRequest::onDebug(CURL*, curl_infotype type, char* data, std::size_t size, void* self) {
    auto* r = static_cast<InternetRequest*>(self);
    switch (type) {
    case CURLINFO_TEXT: {
        // libcurl says so the moment the TCP connection stands, before any TLS.
        static constexpr std::string_view kConnected = "Connected to ";
        const std::string_view text(data, size);
        if (text.substr(0, kConnected.size()) != kConnected) break;
        const std::size_t open = text.find('(');
        const std::size_t close = text.find(')', open);
        r->connected(open != std::string_view::npos && close != std::string_view::npos
                         ? std::string(text.substr(open + 1, close - open - 1))
                         : r->m_address);
        break;
    }
    case CURLINFO_HEADER_OUT:
        // A proxy tunnel's CONNECT goes out before the request has started.
        if (!r->m_requesting) break;
        r->queue(INTERNET_STATUS_REQUEST_SENT, {}, static_cast<DWORD>(size));
        r->awaitData();
        break;
    case CURLINFO_DATA_IN:
        r->received(size);
        break;
    default:
        break;
    }
    return 0;
}

int InternetRequest::onPrerequest(void* self, char* remoteIp, char*, int, int) {
    auto* r = static_cast<InternetRequest*>(self);
    r->connected(remoteIp ? remoteIp : r->m_address);
    r->m_requesting = true;
    r->queue(INTERNET_STATUS_SENDING_REQUEST);
    return CURL_PREREQFUNC_OK;
}

std::size_t InternetRequest::onHeader(char* data, std::size_t size, std::size_t count, void* self) {
    auto* r = static_cast<InternetRequest*>(self);
    r->headerLine(std::string(data, size * count));
    return size * count;
}

std::size_t InternetRequest::onWrite(char* data, std::size_t size, std::size_t count, void* self) {
    return static_cast<InternetRequest*>(self)->take(data, size * count);
}

// --- helpers of the hooks ------------------------------------------------------------

void InternetRequest::queue(DWORD status, std::string text, DWORD count) {
    InternetNotification n;
    n.handle = shared_from_this();
    n.status = status;
    n.text = std::move(text);
    n.count = count;
    m_library.queue(std::move(n));
}

void InternetRequest::queueResult(DWORD status, DWORD_PTR result, DWORD error) {
    InternetNotification n;
    n.handle = shared_from_this();
    n.status = status;
    n.result = {result, error};
    m_library.queue(std::move(n));
}

void InternetRequest::connected(const std::string& address) {
    if (m_connected) return;
    m_connected = true;
    queue(INTERNET_STATUS_CONNECTED_TO_SERVER, address);
}

void InternetRequest::awaitData() {
    queue(INTERNET_STATUS_RECEIVING_RESPONSE);
    m_awaiting = true;
    m_lastProgress = Clock::now();
}

void InternetRequest::received(std::size_t bytes) {
    m_lastProgress = Clock::now();
    // What one turn of libcurl reads is one arrival.
    InternetNotification* last = m_library.lastQueued();
    if (last && last->handle.get() == this && last->status == INTERNET_STATUS_RESPONSE_RECEIVED) {
        last->count += static_cast<DWORD>(bytes);
        return;
    }
    queue(INTERNET_STATUS_RESPONSE_RECEIVED, {}, static_cast<DWORD>(bytes));
}

void InternetRequest::headerLine(const std::string& line) {
    received(line.size());
    const std::string text = withoutLineEnd(line);
    if (text.rfind("HTTP/", 0) == 0) {
        const std::size_t blank = text.find(' ');
        m_status = blank == std::string::npos ? 0 : std::atoi(text.c_str() + blank + 1);
        m_location.clear();
        return;
    }
    if (!text.empty()) {
        const std::size_t colon = text.find(':');
        if (colon != std::string::npos && lowerCase(text.substr(0, colon)) == "location") {
            const std::size_t from = text.find_first_not_of(" \t", colon + 1);
            m_location = from == std::string::npos ? "" : text.substr(from);
        }
        return;
    }
    // The blank line: this response's headers are complete.
    if (m_status >= 100 && m_status < 200) return; // an interim answer; the real one follows
    const bool redirect =
        std::find(std::begin(kRedirects), std::end(kRedirects), m_status) != std::end(kRedirects);
    if (redirect && !m_location.empty() && (m_flags & INTERNET_FLAG_NO_AUTO_REDIRECT) == 0) {
        m_url = followLocation(m_url, m_location);
        queue(INTERNET_STATUS_REDIRECT, m_url);
        return;
    }
    {
        std::lock_guard lock(m_library.mutex());
        m_opened = true;
        m_openedStatus = m_status;
    }
    m_awaiting = false;
    queueResult(INTERNET_STATUS_REQUEST_COMPLETE, reinterpret_cast<DWORD_PTR>(value()), 0);
}

std::size_t InternetRequest::take(const char* data, std::size_t size) {
    std::lock_guard lock(m_library.mutex());
    if (m_pending) {
        const std::size_t n = std::min<std::size_t>(size, m_pending->size);
        std::memcpy(m_pending->buffer, data, n);
        *m_pending->read = static_cast<DWORD>(n);
        m_body.append(data + n, size - n);
        completeRead(TRUE, 0);
        m_awaiting = false;
        return size;
    }
    if (!m_body.empty()) {
        // One block waits already: libcurl keeps this one until a read needs it.
        m_paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    m_body.assign(data, size);
    return size;
}

void InternetRequest::completeRead(BOOL result, DWORD error) {
    // The bytes are in the reader's buffer already: the completion says so.
    m_pending.reset();
    queueResult(INTERNET_STATUS_REQUEST_COMPLETE, static_cast<DWORD_PTR>(result), error);
}

// --- the reader's side, under the library's mutex --------------------------------------

BOOL InternetRequest::read(void* buffer, DWORD toRead, DWORD* read, DWORD& error) {
    if (!m_opened || m_pending) {
        error = ERROR_INTERNET_INCORRECT_HANDLE_STATE;
        return FALSE;
    }
    if (!buffer || !read || toRead == 0) {
        error = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    *read = 0;
    if (!m_body.empty()) {
        const std::size_t n = std::min<std::size_t>(toRead, m_body.size());
        std::memcpy(buffer, m_body.data(), n);
        m_body.erase(0, n);
        *read = static_cast<DWORD>(n);
        return TRUE;
    }
    if (m_done) {
        error = m_error;
        return m_error ? FALSE : TRUE;
    }
    m_pending = PendingRead{static_cast<char*>(buffer), toRead, read};
    error = ERROR_IO_PENDING;
    return FALSE;
}

void InternetRequest::cancel() {
    m_pending.reset();
}

} // namespace win::inet
