#pragma once
#include "platform/message.h"

namespace win::inet {

// The internet library's error for a failed libcurl transfer: `curlCode` is its
// CURLcode, `osErrno` the system error behind it (CURLINFO_OS_ERRNO) and
// `verifyResult` the certificate check's result (CURLINFO_SSL_VERIFYRESULT).
DWORD internetErrorFromCurl(int curlCode, long osErrno, long verifyResult);

} // namespace win::inet
