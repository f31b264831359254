#include "net/syslogalert.h"

#include "platform/cp1250.h"

#include <atomic>
#include <mutex>

#include <syslog.h>

namespace net {
namespace {

std::atomic<bool> g_forced{false};

} // namespace

void setSyslogAlerts(bool on) {
    g_forced = on;
}

bool syslogAlerts() {
    return g_forced.load();
}

std::string syslogHitLine(const std::string& procedure, const std::string& protocol, int port,
                          const std::string& peer, int peerPort, const std::string& description,
                          bool halfOpen) {
    std::string plain = description;
    for (char& c : plain) {
        const char32_t u = cp1250::toUnicode(c);
        if (u < 0x20 || (u >= 0x7f && u < 0xa0)) c = ' ';
    }
    std::string line = procedure + " hit: " + protocol + " port " + std::to_string(port) +
                       " from " + peer + " port " + std::to_string(peerPort) + " (" +
                       cp1250::toUtf8(plain) + ")";
    if (halfOpen) line += " half-open";
    return line;
}

void sendSyslog(const std::string& line) {
    // The ident is given once for the process; the facility goes with each line, so
    // nothing else that logs through syslog changes.
    static std::once_flag opened;
    std::call_once(opened, [] { ::openlog("wstoolbox", LOG_PID, LOG_AUTH); });
    ::syslog(LOG_AUTH | LOG_WARNING, "%s", line.c_str());
}

} // namespace net
