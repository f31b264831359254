#include "net/acceptexhaustion.h"

#include "platform/winsock.h"

namespace net {

bool AcceptExhaustion::is(int error) {
    return error == win::WSAEMFILE || error == win::WSAENOBUFS;
}

bool AcceptExhaustion::report(int error) {
    if (!is(error) || error == m_reported) return false;
    m_reported = error;
    return true;
}

} // namespace net
