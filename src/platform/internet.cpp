#include "platform/internet.h"

#include "platform/internetlibrary.h"
#include "platform/winsock.h"

#include <cstring>
#include <string>

namespace win {
namespace {

inet::InternetLibrary& library() {
    return inet::InternetLibrary::instance();
}

// Windows keeps one last-error value per thread for every system call; the
// sockets layer's is that value here too.
template <typename T> T failed(T result, DWORD error) {
    SetLastError(error);
    return result;
}

} // namespace

DWORD GetLastError() {
    return static_cast<DWORD>(WSAGetLastError());
}

void SetLastError(DWORD error) {
    WSASetLastError(static_cast<int>(error));
}

HINTERNET InternetOpenA(const char* agent, DWORD accessType, const char* proxy,
                        const char* proxyBypass, DWORD flags) {
    DWORD error = 0;
    HINTERNET session = library().openSession(agent, accessType, proxy, proxyBypass, flags, error);
    return session ? session : failed<HINTERNET>(nullptr, error);
}

INTERNET_STATUS_CALLBACK InternetSetStatusCallback(HINTERNET handle,
                                                   INTERNET_STATUS_CALLBACK callback) {
    const INTERNET_STATUS_CALLBACK previous = library().setCallback(handle, callback);
    if (previous == INTERNET_INVALID_STATUS_CALLBACK) SetLastError(ERROR_INVALID_HANDLE);
    return previous;
}

HINTERNET InternetOpenUrlA(HINTERNET session, const char* url, const char* headers,
                           DWORD headersLength, DWORD flags, DWORD_PTR context) {
    DWORD error = 0;
    HINTERNET file = library().openUrl(session, url, headers, headersLength, flags, context, error);
    return file ? file : failed<HINTERNET>(nullptr, error);
}

BOOL InternetReadFile(HINTERNET file, void* buffer, DWORD toRead, DWORD* read) {
    DWORD error = 0;
    return library().read(file, buffer, toRead, read, error) ? TRUE : failed<BOOL>(FALSE, error);
}

BOOL HttpQueryInfoA(HINTERNET request, DWORD infoLevel, void* buffer, DWORD* length, DWORD*) {
    if (length == nullptr || buffer == nullptr) return failed<BOOL>(FALSE, ERROR_INVALID_PARAMETER);
    if ((infoLevel & 0xFFFF) != HTTP_QUERY_STATUS_CODE)
        return failed<BOOL>(FALSE, ERROR_HTTP_HEADER_NOT_FOUND);
    DWORD error = 0;
    const int status = library().status(request, error);
    if (status == 0) return failed<BOOL>(FALSE, error);
    if ((infoLevel & HTTP_QUERY_FLAG_NUMBER) != 0) {
        if (*length < sizeof(DWORD)) {
            *length = sizeof(DWORD);
            return failed<BOOL>(FALSE, ERROR_INSUFFICIENT_BUFFER);
        }
        const auto value = static_cast<DWORD>(status);
        std::memcpy(buffer, &value, sizeof value);
        *length = sizeof value;
        return TRUE;
    }
    const std::string text = std::to_string(status);
    if (*length < text.size() + 1) {
        *length = static_cast<DWORD>(text.size() + 1);
        return failed<BOOL>(FALSE, ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    *length = static_cast<DWORD>(text.size());
    return TRUE;
}

BOOL InternetCloseHandle(HINTERNET handle) {
    DWORD error = 0;
    return library().close(handle, error) ? TRUE : failed<BOOL>(FALSE, error);
}

BOOL InternetSetOptionA(HINTERNET handle, DWORD option, void* buffer, DWORD length) {
    DWORD error = 0;
    return library().setOption(handle, option, buffer, length, error) ? TRUE
                                                                      : failed<BOOL>(FALSE, error);
}

} // namespace win
