#include "platform/interneterror.h"

#include "platform/internet.h"

#include <cerrno>
#include <curl/curl.h>

namespace win::inet {
namespace {

// OpenSSL's certificate check results (x509_vfy.h) that have an error of their own.
constexpr long kVerifyOk = 0;
constexpr long kUnspecified = 1; // what curl records when its own name check fails
constexpr long kCertNotYetValid = 9;
constexpr long kCertHasExpired = 10;
constexpr long kHostnameMismatch = 62;
constexpr long kIpAddressMismatch = 64;

} // namespace

DWORD internetErrorFromCurl(int curlCode, long osErrno, long verifyResult) {
    switch (static_cast<CURLcode>(curlCode)) {
    case CURLE_OK:
        return 0;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_URL_MALFORMAT:
        return ERROR_INTERNET_INVALID_URL;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
        return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
        return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
        return ERROR_INTERNET_TIMEOUT;
    case CURLE_OUT_OF_MEMORY:
        return ERROR_NOT_ENOUGH_MEMORY;
    case CURLE_ABORTED_BY_CALLBACK:
        return ERROR_INTERNET_OPERATION_CANCELLED;
    case CURLE_TOO_MANY_REDIRECTS:
        return ERROR_HTTP_REDIRECT_FAILED;
    // A server that answers nothing, or nothing HTTP.
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
        return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    // The body ended before the length the server announced.
    case CURLE_PARTIAL_FILE:
        return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return osErrno == ECONNRESET || osErrno == EPIPE ? ERROR_INTERNET_CONNECTION_RESET
                                                         : ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_PEER_FAILED_VERIFICATION:
        // The chain is sound but names another host: OpenSSL says so itself, or
        // accepts the chain and curl's own check of the name fails.
        if (verifyResult == kVerifyOk || verifyResult == kUnspecified ||
            verifyResult == kHostnameMismatch || verifyResult == kIpAddressMismatch)
            return ERROR_INTERNET_SEC_CERT_CN_INVALID;
        if (verifyResult == kCertHasExpired || verifyResult == kCertNotYetValid)
            return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
        return ERROR_INTERNET_INVALID_CA;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
        return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    default:
        return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

} // namespace win::inet
