#include "tools/http/http_asytext.h"

#include <cstring>

namespace tools {
namespace {

// The window's own table, shown as it stands: from 12033 on its names are not
// those of today's Windows headers (there 12038, for one, is a certificate whose
// name does not match).
constexpr const char* kErrorNames[] = {
    "ERROR_INTERNET_OUT_OF_HANDLES",
    "ERROR_INTERNET_TIMEOUT",
    "ERROR_INTERNET_EXTENDED_ERROR",
    "ERROR_INTERNET_INTERNAL_ERROR",
    "ERROR_INTERNET_INVALID_URL",
    "ERROR_INTERNET_UNRECOGNIZED_SCHEME",
    "ERROR_INTERNET_NAME_NOT_RESOLVED",
    "ERROR_INTERNET_PROTOCOL_NOT_FOUND",
    "ERROR_INTERNET_INVALID_OPTION",
    "ERROR_INTERNET_BAD_OPTION_LENGTH",
    "ERROR_INTERNET_OPTION_NOT_SETTABLE",
    "ERROR_INTERNET_SHUTDOWN",
    "ERROR_INTERNET_INCORRECT_USER_NAME",
    "ERROR_INTERNET_INCORRECT_PASSWORD",
    "ERROR_INTERNET_LOGIN_FAILURE",
    "ERROR_INTERNET_INVALID_OPERATION",
    "ERROR_INTERNET_OPERATION_CANCELLED",
    "ERROR_INTERNET_INCORRECT_HANDLE_TYPE",
    "ERROR_INTERNET_INCORRECT_HANDLE_STATE",
    "ERROR_INTERNET_NOT_PROXY_REQUEST",
    "ERROR_INTERNET_REGISTRY_VALUE_NOT_FOUND",
    "ERROR_INTERNET_BAD_REGISTRY_PARAMETER",
    "ERROR_INTERNET_NO_DIRECT_ACCESS",
    "ERROR_INTERNET_NO_CONTEXT",
    "ERROR_INTERNET_NO_CALLBACK",
    "ERROR_INTERNET_REQUEST_PENDING",
    "ERROR_INTERNET_INCORRECT_FORMAT",
    "ERROR_INTERNET_ITEM_NOT_FOUND",
    "ERROR_INTERNET_CANNOT_CONNECT",
    "ERROR_INTERNET_CONNECTION_ABORTED",
    "ERROR_INTERNET_CONNECTION_RESET",
    "ERROR_INTERNET_FORCE_RETRY",
    "ERROR_INTERNET_ZONE_CROSSING",
    "ERROR_INTERNET_MIXED_SECURITY",
    "ERROR_INTERNET_SSL_CERT_CN_INVALID",
    "ERROR_INTERNET_HANDLE_EXISTS",
};

std::string withCount(const char* text, const void* information, win::DWORD length) {
    win::DWORD count = 0;
    if (information && length >= sizeof count) std::memcpy(&count, information, sizeof count);
    return std::string(text) + std::to_string(count);
}

} // namespace

std::string InternetStatusText(win::DWORD status, const void* information, win::DWORD length) {
    switch (status) {
    case win::INTERNET_STATUS_RESOLVING_NAME:
        return "Resolving name..";
    case win::INTERNET_STATUS_NAME_RESOLVED:
        return "Name resolved.";
    case win::INTERNET_STATUS_CONNECTING_TO_SERVER:
        return "Connecting to server..";
    case win::INTERNET_STATUS_CONNECTED_TO_SERVER:
        return "Connected.";
    case win::INTERNET_STATUS_SENDING_REQUEST:
        return "Sending request..";
    case win::INTERNET_STATUS_REQUEST_SENT:
        return withCount("Request sent. ", information, length);
    case win::INTERNET_STATUS_RECEIVING_RESPONSE:
        return "Receiving response..";
    case win::INTERNET_STATUS_RESPONSE_RECEIVED:
        return withCount("Response received. ", information, length);
    case win::INTERNET_STATUS_CTL_RESPONSE_RECEIVED:
        return "CTL Response received.";
    case win::INTERNET_STATUS_CLOSING_CONNECTION:
        return "Closing handle..";
    case win::INTERNET_STATUS_CONNECTION_CLOSED:
        return "Handle closed.";
    case win::INTERNET_STATUS_HANDLE_CREATED:
        return "Handle created.";
    case win::INTERNET_STATUS_HANDLE_CLOSING:
        return "...";
    case win::INTERNET_STATUS_REQUEST_COMPLETE: {
        win::INTERNET_ASYNC_RESULT result{};
        if (information && length >= sizeof result)
            std::memcpy(&result, information, sizeof result);
        return "Request completed. " + std::to_string(result.dwResult);
    }
    case win::INTERNET_STATUS_REDIRECT:
        return "Redirect..";
    default:
        return {};
    }
}

std::string InternetErrorName(win::DWORD code) {
    if (code < 12001 || code > 12036) return {};
    return kErrorNames[code - 12001];
}

} // namespace tools
