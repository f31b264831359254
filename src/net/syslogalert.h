#pragma once
#include <string>

// The blockers' hits in the system log, where tools such as fail2ban act on them:
// facility auth, priority warning, ident "wstoolbox", one line per hit in a fixed
// form.
namespace net {

// --syslog on the command line: every blocker sends its hits, whatever its
// settings say.
void setSyslogAlerts(bool on);
bool syslogAlerts();

// One hit as the system log gets it, "WS_TcpB hit: TCP port 80 from 10.0.0.5 port
// 40123 (Http)", with " half-open" after it for a half-open probe. The description
// is the user's own text from the list file: converted to UTF-8, with control
// characters as blanks, so each hit stays one line of the form a filter expects.
std::string syslogHitLine(const std::string& procedure, const std::string& protocol, int port,
                          const std::string& peer, int peerPort, const std::string& description,
                          bool halfOpen);

// Sends one line to the system log.
void sendSyslog(const std::string& line);

} // namespace net
