#include "net/winsockerror.h"

#include "net/eventlog.h"
#include "net/soundcue.h"
#include "platform/cp1250.h"
#include "platform/winsock.h"
#include "ui/toolwindow.h"

#include <cstdint>

namespace net {
namespace {

struct Named {
    int code;
    const char* name;
};

constexpr Named kNames[] = {
    {10004, "WSAEINTR"},           {10009, "WSAEBADF"},          {10013, "WSAEACCES"},
    {10014, "WSAEFAULT"},          {10022, "WSAEINVAL"},         {10024, "WSAEMFILE"},
    {10035, "WSAEWOULDBLOCK"},     {10036, "WSAEINPROGRESS"},    {10037, "WSAEALREADY"},
    {10038, "WSAENOTSOCK"},        {10039, "WSAEDESTADDRREQ"},   {10040, "WSAEMSGSIZE"},
    {10041, "WSAEPROTOTYPE"},      {10042, "WSAENOPROTOOPT"},    {10043, "WSAEPROTONOSUPPORT"},
    {10044, "WSAESOCKTNOSUPPORT"}, {10045, "WSAEOPNOTSUPP"},     {10046, "WSAEPFNOSUPPORT"},
    {10047, "WSAEAFNOSUPPORT"},    {10048, "WSAEADDRINUSE"},     {10049, "WSAEADDRNOTAVAIL"},
    {10050, "WSAENETDOWN"},        {10051, "WSAENETUNREACH"},    {10052, "WSAENETRESET"},
    {10053, "WSAECONNABORTED"},    {10054, "WSAECONNRESET"},     {10055, "WSAENOBUFS"},
    {10056, "WSAEISCONN"},         {10057, "WSAENOTCONN"},       {10058, "WSAESHUTDOWN"},
    {10059, "WSAETOOMANYREFS"},    {10060, "WSAETIMEDOUT"},      {10061, "WSAECONNREFUSED"},
    {10062, "WSAELOOP"},           {10063, "WSAENAMETOOLONG"},   {10064, "WSAEHOSTDOWN"},
    {10065, "WSAEHOSTUNREACH"},    {10066, "WSAENOTEMPTY"},      {10067, "WSAEPROCLIM"},
    {10068, "WSAEUSERS"},          {10069, "WSAEDQUOT"},         {10070, "WSAESTALE"},
    {10071, "WSAEREMOTE"},         {10091, "WSASYSNOTREADY"},    {10092, "WSAVERNOTSUPPORTED"},
    {10093, "WSANOTINITIALISED"},  {11001, "WSAHOST_NOT_FOUND"}, {11002, "WSATRY_AGAIN"},
    {11003, "WSANO_RECOVERY"},     {11004, "WSANO_DATA"},
};

} // namespace

std::string WinsockErrorName(int code) {
    // The report holds the code as a 16-bit signed number.
    const int held = static_cast<std::int16_t>(code);
    for (const auto& n : kNames)
        if (n.code == held) return n.name;
    return "Unknown Error Code";
}

void ReportWinsockCode(ui::ToolWindow& window, ReportVariant variant, EventLog* log, int code) {
    const int held = static_cast<std::int16_t>(code);
    const std::string name = WinsockErrorName(held);
    switch (variant) {
    case ReportVariant::Box:
        window.messageBox(std::to_string(held) + ": " + name, "WinSock Error",
                          ui::BoxIcon::Exclamation, ui::BoxButtons::Ok);
        break;
    case ReportVariant::LogAndSound:
        if (log) log->addDirect(name);
        PlayCue(window, "Error.wav");
        break;
    case ReportVariant::Log:
        if (log) log->addDirect(name);
        window.model().redraw();
        break;
    case ReportVariant::MarkedLogAndSound:
        if (log) log->addMarked("ERROR !", cp1250::toLower(name));
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
