#include "tools/registertools.h"

#include "ui/procedureregistry.h"

#include <memory>

// Each tool's window class is named after its procedure. A tool whose header is
// not in the tree yet is simply not offered: the menu leaves its item inert.
#if __has_include("tools/blockers/ws_tcpb.h")
#include "tools/blockers/ws_tcpb.h"
#define WS_HAVE_TCPB
#endif
#if __has_include("tools/blockers/ws_udpb.h")
#include "tools/blockers/ws_udpb.h"
#define WS_HAVE_UDPB
#endif
#if __has_include("tools/plain/unos_porta.h")
#include "tools/plain/unos_porta.h"
#define WS_HAVE_UNOS_PORTA
#endif
#if __has_include("tools/plain/ws_tcp.h")
#include "tools/plain/ws_tcp.h"
#define WS_HAVE_TCP
#endif
#if __has_include("tools/plain/ws_udp.h")
#include "tools/plain/ws_udp.h"
#define WS_HAVE_UDP
#endif
#if __has_include("tools/plain/ws_client.h")
#include "tools/plain/ws_client.h"
#define WS_HAVE_CLIENT
#endif

#if __has_include("tools/lookup/dnsx.h")
#include "tools/lookup/dnsx.h"
#define WS_HAVE_DNSX
#endif
#if __has_include("tools/icmp/ping_ip.h")
#include "tools/icmp/ping_ip.h"
#define WS_HAVE_PING
#endif
#if __has_include("tools/icmp/traceroute.h")
#include "tools/icmp/traceroute.h"
#define WS_HAVE_TRACEROUTE
#endif

namespace tools {

template <typename Tool> void add(ui::ProcedureRegistry& registry, const char* procedure) {
    registry.add(procedure, [] { return std::make_unique<Tool>(); });
}

void registerTools([[maybe_unused]] ui::ProcedureRegistry& registry) {
#ifdef WS_HAVE_TCPB
    add<WS_TcpB>(registry, "WS_TcpB");
#endif
#ifdef WS_HAVE_UDPB
    add<WS_UdpB>(registry, "WS_UdpB");
#endif
#ifdef WS_HAVE_UNOS_PORTA
    add<Unos_porta>(registry, "Unos_porta");
#endif
#ifdef WS_HAVE_TCP
    add<WS_Tcp>(registry, "WS_Tcp");
#endif
#ifdef WS_HAVE_UDP
    add<WS_Udp>(registry, "WS_Udp");
#endif
#ifdef WS_HAVE_CLIENT
    add<WS_CLIENT>(registry, "WS_CLIENT");
#endif
#ifdef WS_HAVE_DNSX
    add<DNSx>(registry, "DNSx");
#endif
#ifdef WS_HAVE_PING
    add<Ping_ip>(registry, "Ping_ip");
#endif
#ifdef WS_HAVE_TRACEROUTE
    add<Traceroute>(registry, "Traceroute");
#endif
}

} // namespace tools
