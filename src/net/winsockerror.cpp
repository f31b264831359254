#include "net/winsockerror.h"

#include "net/eventlog.h"
#include "net/soundcue.h"
#include "platform/cp1250.h"
#include "platform/winsock.h"
#include "ui/toolwindow.h"

#include <cctype>
#include <cstdint>
#include <strings.h>

namespace net {
namespace {

struct Named {
    int code;
    const char* name;
    const char* meaning; // what it means to the person reading the log
};

constexpr Named kNames[] = {
    {10004, "WSAEINTR", "Interrupted: the call was cancelled before it finished"},
    {10009, "WSAEBADF", "Bad handle: the file or socket handle is not valid"},
    {10013, "WSAEACCES", "Permission denied: ports below 1024 need root or the bind capability"},
    {10014, "WSAEFAULT", "Bad address: the program passed a buffer it cannot use"},
    {10022, "WSAEINVAL", "Invalid argument: the call does not fit the socket's state"},
    {10024, "WSAEMFILE", "Too many open sockets: the descriptor limit is reached"},
    {10035, "WSAEWOULDBLOCK", "Would block: the operation goes on in the background"},
    {10036, "WSAEINPROGRESS", "A blocking call is already running on this thread"},
    {10037, "WSAEALREADY", "Already in progress: a connect on this socket is under way"},
    {10038, "WSAENOTSOCK", "Not a socket: there is no socket yet (connect first)"},
    {10039, "WSAEDESTADDRREQ", "Destination address required"},
    {10040, "WSAEMSGSIZE", "Message too long: the datagram did not fit the buffer"},
    {10041, "WSAEPROTOTYPE", "Wrong protocol type for this socket"},
    {10042, "WSAENOPROTOOPT", "Bad protocol option"},
    {10043, "WSAEPROTONOSUPPORT", "Protocol not supported"},
    {10044, "WSAESOCKTNOSUPPORT", "Socket type not supported"},
    {10045, "WSAEOPNOTSUPP", "Operation not supported on this socket"},
    {10046, "WSAEPFNOSUPPORT", "Protocol family not supported"},
    {10047, "WSAEAFNOSUPPORT", "Address family not supported"},
    {10048, "WSAEADDRINUSE", "Address in use: another program already holds that port"},
    {10049, "WSAEADDRNOTAVAIL", "Address not available: it is not an address of this machine"},
    {10050, "WSAENETDOWN", "Network is down"},
    {10051, "WSAENETUNREACH", "Network unreachable: no route leads there"},
    {10052, "WSAENETRESET", "Network dropped the connection"},
    {10053, "WSAECONNABORTED", "Connection aborted by this machine"},
    {10054, "WSAECONNRESET", "Connection reset by the peer"},
    {10055, "WSAENOBUFS", "No buffer space: the system is out of memory for sockets"},
    {10056, "WSAEISCONN", "Already connected"},
    {10057, "WSAENOTCONN", "Not connected: connect to the server first"},
    {10058, "WSAESHUTDOWN", "The socket was shut down for sending"},
    {10059, "WSAETOOMANYREFS", "Too many references"},
    {10060, "WSAETIMEDOUT", "Timed out: the peer did not answer"},
    {10061, "WSAECONNREFUSED", "Connection refused: nothing listens on that port"},
    {10062, "WSAELOOP", "Too many levels of symbolic links"},
    {10063, "WSAENAMETOOLONG", "Name too long"},
    {10064, "WSAEHOSTDOWN", "Host is down"},
    {10065, "WSAEHOSTUNREACH", "Host unreachable: no route to that host"},
    {10066, "WSAENOTEMPTY", "Directory not empty"},
    {10067, "WSAEPROCLIM", "Too many processes use the sockets layer"},
    {10068, "WSAEUSERS", "Too many users"},
    {10069, "WSAEDQUOT", "Disk quota exceeded"},
    {10070, "WSAESTALE", "Stale file handle"},
    {10071, "WSAEREMOTE", "Too many levels of remote in path"},
    {10091, "WSASYSNOTREADY", "The network subsystem is not ready"},
    {10092, "WSAVERNOTSUPPORTED", "This sockets version is not supported"},
    {10093, "WSANOTINITIALISED", "The sockets layer has not been started"},
    {10109, "WSATYPE_NOT_FOUND", "No such service is known"},
    {11001, "WSAHOST_NOT_FOUND", "Host not found: no such name is known"},
    {11002, "WSATRY_AGAIN", "Name server failure: try again later"},
    {11003, "WSANO_RECOVERY", "The name server gave an answer that cannot be used"},
    {11004, "WSANO_DATA", "The name is known but has no address of the kind asked for"},
};

bool wordCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

} // namespace

std::string WinsockErrorName(int code) {
    // The report holds the code as a 16-bit signed number.
    const int held = static_cast<std::int16_t>(code);
    for (const auto& n : kNames)
        if (n.code == held) return n.name;
    return "Unknown Error Code";
}

std::string WinsockErrorMeaning(int code) {
    const int held = static_cast<std::int16_t>(code);
    for (const auto& n : kNames)
        if (n.code == held) return n.meaning;
    return {};
}

std::string WinsockErrorMeaningIn(const std::string& text) {
    // Names stand as whole words, in capitals or (the marked report) in lower case.
    for (std::size_t at = 0; at + 3 < text.size(); ++at) {
        if ((at > 0 && wordCharacter(text[at - 1])) || strncasecmp(&text[at], "WSA", 3) != 0)
            continue;
        std::size_t end = at;
        while (end < text.size() && wordCharacter(text[end]))
            ++end;
        const std::string word = text.substr(at, end - at);
        for (const auto& n : kNames)
            if (strcasecmp(word.c_str(), n.name) == 0) return n.meaning;
    }
    return {};
}

void ReportWinsockCode(ui::ToolWindow& window, ReportVariant variant, EventLog* log, int code,
                       const std::string& after) {
    const int held = static_cast<std::int16_t>(code);
    const std::string name = WinsockErrorName(held);
    switch (variant) {
    case ReportVariant::Box:
        window.messageBox(std::to_string(held) + ": " + name, "WinSock Error",
                          ui::BoxIcon::Exclamation, ui::BoxButtons::Ok);
        break;
    case ReportVariant::LogAndSound:
        if (log) log->addDirect(name + after);
        PlayCue(window, "Error.wav");
        break;
    case ReportVariant::Log:
        if (log) log->addDirect(name + after);
        window.model().redraw();
        break;
    case ReportVariant::MarkedLogAndSound:
        if (log) log->addMarked("ERROR !", cp1250::toLower(name) + after);
        PlayCue(window, "Error.wav");
        break;
    }
}

int ReportWinsockError(ui::ToolWindow& window, ReportVariant variant, EventLog* log) {
    const int code = win::WSAGetLastError();
    ReportWinsockCode(window, variant, log, code);
    return code;
}

} // namespace net
