#pragma once
#include "platform/message.h"

#include <cstdint>

// The Windows internet client library (WinInet) as the tools use it: a session
// handle, URLs opened beneath it, their bodies read in blocks, and a status
// callback that reports every step of a request as it happens. Asynchronous mode
// works as on Windows: an operation that cannot finish at once fails with
// ERROR_IO_PENDING and completes later with INTERNET_STATUS_REQUEST_COMPLETE.
// Every callback runs on the library's own thread, never inside the caller's call.
namespace win {

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

using HINTERNET = void*;
using DWORD_PTR = std::uintptr_t;
using INTERNET_STATUS_CALLBACK = void (*)(HINTERNET handle, DWORD_PTR context, DWORD status,
                                          void* information, DWORD informationLength);

// What INTERNET_STATUS_HANDLE_CREATED and INTERNET_STATUS_REQUEST_COMPLETE carry:
// the new handle (or TRUE/FALSE for a read) and the error, 0 when it worked.
struct INTERNET_ASYNC_RESULT {
    DWORD_PTR dwResult;
    DWORD dwError;
};

// InternetSetStatusCallback's answer for a handle it does not know.
inline const INTERNET_STATUS_CALLBACK INTERNET_INVALID_STATUS_CALLBACK =
    reinterpret_cast<INTERNET_STATUS_CALLBACK>(static_cast<std::intptr_t>(-1));

constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0; // proxy from the environment
constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
constexpr DWORD INTERNET_OPEN_TYPE_PROXY = 3;

constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
constexpr DWORD INTERNET_FLAG_ASYNC = 0x10000000;
constexpr DWORD INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
constexpr DWORD INTERNET_FLAG_NO_AUTO_REDIRECT = 0x00200000;
constexpr DWORD INTERNET_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000;

constexpr DWORD INTERNET_OPTION_CONNECT_TIMEOUT = 2; // milliseconds
constexpr DWORD INTERNET_OPTION_RECEIVE_TIMEOUT = 6;

constexpr DWORD INTERNET_STATUS_RESOLVING_NAME = 10;
constexpr DWORD INTERNET_STATUS_NAME_RESOLVED = 11;
constexpr DWORD INTERNET_STATUS_CONNECTING_TO_SERVER = 20;
constexpr DWORD INTERNET_STATUS_CONNECTED_TO_SERVER = 21;
constexpr DWORD INTERNET_STATUS_SENDING_REQUEST = 30;
constexpr DWORD INTERNET_STATUS_REQUEST_SENT = 31;
constexpr DWORD INTERNET_STATUS_RECEIVING_RESPONSE = 40;
constexpr DWORD INTERNET_STATUS_RESPONSE_RECEIVED = 41;
constexpr DWORD INTERNET_STATUS_CTL_RESPONSE_RECEIVED = 42;
constexpr DWORD INTERNET_STATUS_CLOSING_CONNECTION = 50;
constexpr DWORD INTERNET_STATUS_CONNECTION_CLOSED = 51;
constexpr DWORD INTERNET_STATUS_HANDLE_CREATED = 60;
constexpr DWORD INTERNET_STATUS_HANDLE_CLOSING = 70;
constexpr DWORD INTERNET_STATUS_REQUEST_COMPLETE = 100;
constexpr DWORD INTERNET_STATUS_REDIRECT = 110;

constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_HTTP_HEADER_NOT_FOUND = 12150;
constexpr DWORD ERROR_IO_PENDING = 997;
constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
constexpr DWORD ERROR_INTERNET_INVALID_URL = 12005;
constexpr DWORD ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr DWORD ERROR_INTERNET_INVALID_OPTION = 12009;
constexpr DWORD ERROR_INTERNET_BAD_OPTION_LENGTH = 12010;
constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;
constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
constexpr DWORD ERROR_INTERNET_CONNECTION_RESET = 12031;
constexpr DWORD ERROR_INTERNET_SEC_CERT_DATE_INVALID = 12037;
constexpr DWORD ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;
constexpr DWORD ERROR_INTERNET_INVALID_CA = 12045;
constexpr DWORD ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
constexpr DWORD ERROR_HTTP_REDIRECT_FAILED = 12156;
constexpr DWORD ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;

// The session: agent text, access type (direct, through `proxy` given as
// "host:port", or as the environment says) and INTERNET_FLAG_ASYNC for
// asynchronous mode. Null with the error set when the access type is unknown.
HINTERNET InternetOpenA(const char* agent, DWORD accessType, const char* proxy,
                        const char* proxyBypass, DWORD flags);

// Sets the callback of a handle; URLs opened beneath a session take the session's
// callback as it stands when they are opened. Returns the previous callback, or
// INTERNET_INVALID_STATUS_CALLBACK for an unknown handle.
INTERNET_STATUS_CALLBACK InternetSetStatusCallback(HINTERNET handle,
                                                   INTERNET_STATUS_CALLBACK callback);

// Opens an http:// or https:// URL beneath the session. In asynchronous mode the
// call returns null with ERROR_IO_PENDING; the handle arrives with
// INTERNET_STATUS_HANDLE_CREATED and, once the response headers are in,
// INTERNET_STATUS_REQUEST_COMPLETE (whose error is set when the request failed).
// A malformed URL fails at once with ERROR_INTERNET_INVALID_URL, another scheme
// with ERROR_INTERNET_UNRECOGNIZED_SCHEME. `headers` (CR LF separated; length
// (DWORD)-1 = up to the NUL) are added to the request.
HINTERNET InternetOpenUrlA(HINTERNET session, const char* url, const char* headers,
                           DWORD headersLength, DWORD flags, DWORD_PTR context);

// Reads the next bytes of the body. TRUE with *read = 0 is the end of the data.
// In asynchronous mode, when nothing has arrived yet, FALSE with ERROR_IO_PENDING:
// the buffer and *read must stay valid until INTERNET_STATUS_REQUEST_COMPLETE
// (or until the handle is closed, which cancels the read).
BOOL InternetReadFile(HINTERNET file, void* buffer, DWORD toRead, DWORD* read);

// Closes a handle and, for a session, every URL opened beneath it. When it
// returns, every notification for these handles has been delivered (the last
// being INTERNET_STATUS_HANDLE_CLOSING) and no pending read writes any more.
BOOL InternetCloseHandle(HINTERNET handle);

// The time-outs in milliseconds (connect, receive) of a session, used by
// the URLs opened afterwards. Defaults: 60 s to connect, 30 s without data.
BOOL InternetSetOptionA(HINTERNET handle, DWORD option, void* buffer, DWORD length);

constexpr DWORD HTTP_QUERY_STATUS_CODE = 19;
constexpr DWORD HTTP_QUERY_FLAG_NUMBER = 0x20000000;

// Facts of an opened URL's response; only HTTP_QUERY_STATUS_CODE is known here,
// as text or (with HTTP_QUERY_FLAG_NUMBER) as a DWORD. `*length` is the buffer's
// size in bytes and becomes the answer's. FALSE with the error set when the
// handle has no response yet, the query is not known or the buffer is too small
// (ERROR_INSUFFICIENT_BUFFER, *length then the size needed).
BOOL HttpQueryInfoA(HINTERNET request, DWORD infoLevel, void* buffer, DWORD* length, DWORD* index);

// The calling thread's last error, as every call above leaves it on failure.
DWORD GetLastError();
void SetLastError(DWORD error);

} // namespace win
