#pragma once

namespace net {

// An accept() that failed because descriptors or buffers ran out (WSAEMFILE,
// WSAENOBUFS). While it lasts every connection fails the same way: the servers and
// the TCP blocker say it once, and again only after an accept has succeeded, so a
// flood cannot fill the log with the same name. The socket layer keeps the queue
// from announcing one connection for ever (see accept()).
class AcceptExhaustion {
public:
    static bool is(int error);
    // True when `error` is to be reported now: an exhaustion error that is not the
    // one reported since the last successful accept.
    bool report(int error);
    void accepted() { m_reported = 0; }

private:
    int m_reported = 0;
};

} // namespace net
