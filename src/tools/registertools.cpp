#include "tools/registertools.h"

#include "tools/blockers/ws_tcpb.h"
#include "tools/blockers/ws_udpb.h"
#include "tools/http/http_asy.h"
#include "tools/http/ws_hclient.h"
#include "tools/http/ws_http_s.h"
#include "tools/icmp/ping_ip.h"
#include "tools/icmp/traceroute.h"
#include "tools/info/inet_stat.h"
#include "tools/info/ws_info.h"
#include "tools/info/ws_proto.h"
#include "tools/info/ws_servis.h"
#include "tools/lookup/dnsx.h"
#include "tools/pathmon/path_mon.h"
#include "tools/plain/unos_porta.h"
#include "tools/plain/ws_client.h"
#include "tools/plain/ws_tcp.h"
#include "tools/plain/ws_udp.h"
#include "tools/portcheck/port_chk.h"
#include "ui/procedureregistry.h"

#include <memory>

namespace tools {
namespace {

// Each tool's window class is named after its procedure.
template <typename Tool> void add(ui::ProcedureRegistry& registry, const char* procedure) {
    registry.add(procedure, [] { return std::make_unique<Tool>(); });
}

} // namespace

void registerTools(ui::ProcedureRegistry& registry) {
    add<WS_TcpB>(registry, "WS_TcpB");
    add<WS_UdpB>(registry, "WS_UdpB");
    add<Ping_ip>(registry, "Ping_ip");
    add<Traceroute>(registry, "Traceroute");
    add<Path_mon>(registry, "Path_mon");
    add<DNSx>(registry, "DNSx");
    add<Unos_porta>(registry, "Unos_porta");
    add<WS_Tcp>(registry, "WS_Tcp");
    add<WS_Udp>(registry, "WS_Udp");
    add<WS_CLIENT>(registry, "WS_CLIENT");
    add<WS_INFO>(registry, "WS_INFO");
    add<WS_PROTO>(registry, "WS_PROTO");
    add<WS_SERVIS>(registry, "WS_SERVIS");
    add<Inet_stat>(registry, "Inet_stat");
    add<Port_chk>(registry, "Port_chk");
    add<Http_asy>(registry, "Http_asy");
    add<WS_http_s>(registry, "WS_http_s");
    add<ws_HClient>(registry, "ws_HClient");
}

} // namespace tools
