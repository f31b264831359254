#pragma once
// The ICMP echo service (ICMP.DLL) as the ping and traceroute windows call it, over
// Linux ICMP sockets. Every outcome arrives as a status in the reply record or as
// a zero result, never as an error of its own: the tools show the status text.
#include "platform/message.h"

#include <cstddef>
#include <cstdint>

#include <netinet/in.h>

namespace win {

using HANDLE = void*;
using ::sockaddr_in6;
using IPAddr = std::uint32_t; // network byte order

// The IP status values the service writes into a reply record.
constexpr DWORD IP_SUCCESS = 0;
constexpr DWORD IP_BUF_TOO_SMALL = 11001;
constexpr DWORD IP_DEST_NET_UNREACHABLE = 11002;
constexpr DWORD IP_DEST_HOST_UNREACHABLE = 11003;
constexpr DWORD IP_DEST_PROT_UNREACHABLE = 11004;
constexpr DWORD IP_DEST_PORT_UNREACHABLE = 11005;
constexpr DWORD IP_NO_RESOURCES = 11006;
constexpr DWORD IP_BAD_OPTION = 11007;
constexpr DWORD IP_PACKET_TOO_BIG = 11009;
constexpr DWORD IP_REQ_TIMED_OUT = 11010;
constexpr DWORD IP_BAD_REQ = 11011;
constexpr DWORD IP_BAD_ROUTE = 11012;
constexpr DWORD IP_TTL_EXPIRED_TRANSIT = 11013;
constexpr DWORD IP_TTL_EXPIRED_REASSEM = 11014;
constexpr DWORD IP_PARAM_PROBLEM = 11015;
constexpr DWORD IP_SOURCE_QUENCH = 11016;
constexpr DWORD IP_BAD_DESTINATION = 11018;
constexpr DWORD IP_GENERAL_FAILURE = 11050;

// The IP flag that asks for "don't fragment".
constexpr std::uint8_t IP_FLAG_DF = 0x02;

#pragma pack(push, 1)
// The options block of a request, and of a reply as the service fills it: the
// 32-bit layout the tools were written against (IP_OPTION_INFORMATION32).
struct IP_OPTION_INFORMATION {
    std::uint8_t TTL = 0;
    std::uint8_t TOS = 0;
    std::uint8_t FLAGS = 0;
    std::uint8_t OPTIONSSIZE = 0;
    std::uint32_t OPTIONSDATA = 0; // a 32-bit address; never one of ours (see IcmpSendEcho)
};

// The reply record: the service's echo reply (ICMP_ECHO_REPLY32) followed by room
// for the returned data, 278 bytes in all, as the tools pass it.
struct EchoReply {
    std::uint32_t ADDRESS = 0;       // who answered, network byte order
    std::uint32_t STATUS = 0;        // IP status value
    std::uint32_t ROUNDTRIPTIME = 0; // milliseconds
    std::uint32_t DATASIZE = 0;      // 16-bit size and its 16-bit reserved word (0)
    std::uint32_t DATAPOINTER = 0;   // offset of the returned data from the record's start
    IP_OPTION_INFORMATION OPTIONS;   // TTL and TOS of the answer
    char DATA[250] = {};
};
#pragma pack(pop)
static_assert(sizeof(IP_OPTION_INFORMATION) == 8);
static_assert(sizeof(EchoReply) == 278);
static_assert(offsetof(EchoReply, DATA) == 28);

// Everything above the returned data in a reply buffer.
constexpr DWORD EchoReplyHeaderSize = offsetof(EchoReply, DATA);

// A handle of the service. It holds nothing: each request opens and closes its
// own socket, so a handle that is never closed (the tools open one per request
// and keep none) costs nothing. Never fails.
HANDLE IcmpCreateFile();
BOOL IcmpCloseHandle(HANDLE handle);

// Sends one echo request with `requestData` to `destination` and waits up to
// `timeout` milliseconds for its answer: an echo reply (IP_SUCCESS), or an ICMP
// error a router or the destination sent about this very request (time exceeded,
// destination unreachable, ...). Returns the number of replies written into
// `replyBuffer` (an EchoReply, whose data room is `replySize` - 28 bytes): 1, or 0
// when nothing came (status IP_REQ_TIMED_OUT), the request could not be sent (the
// status says why) or no ICMP socket may be opened here (IP_GENERAL_FAILURE).
// `requestOptions` may be null; its TTL 0 means the system's default. IP options
// (OPTIONSSIZE above 0) are refused with IP_BAD_OPTION, since OPTIONSDATA cannot
// address our memory.
//
// Unprivileged ping sockets are used where net.ipv4.ping_group_range admits the
// process's group, raw ICMP sockets otherwise (CAP_NET_RAW). Replies are matched
// by identifier and sequence number, so concurrent requests from any number of
// threads each see only their own answer.
DWORD IcmpSendEcho(HANDLE handle, IPAddr destination, const void* requestData, WORD requestSize,
                   const IP_OPTION_INFORMATION* requestOptions, void* replyBuffer, DWORD replySize,
                   DWORD timeout);

#pragma pack(push, 1)
// An IPv6 address as the service writes it into a reply: the sockaddr_in6 fields
// without the family, the address as eight 16-bit words in network byte order.
struct IPV6_ADDRESS_EX {
    std::uint16_t sin6_port = 0;
    std::uint32_t sin6_flowinfo = 0;
    std::uint16_t sin6_addr[8] = {};
    std::uint32_t sin6_scope_id = 0;
};
#pragma pack(pop)
static_assert(sizeof(IPV6_ADDRESS_EX) == 26);

// The head of an ICMPv6 reply buffer: who answered, the IP status and the round
// trip. The returned data follows it at offset sizeof(ICMPV6_ECHO_REPLY); there is
// no size, time-to-live or options block for IPv6, as on Windows.
struct ICMPV6_ECHO_REPLY {
    IPV6_ADDRESS_EX Address;
    std::uint32_t Status = 0;
    std::uint32_t RoundTripTime = 0; // milliseconds
};
static_assert(sizeof(ICMPV6_ECHO_REPLY) == 36);
static_assert(offsetof(ICMPV6_ECHO_REPLY, Status) == 28);

// The reply record the tools pass for an IPv6 request: the reply and room for the
// returned data, as EchoReply is for IPv4.
struct Echo6Reply {
    ICMPV6_ECHO_REPLY REPLY;
    char DATA[250] = {};
};
static_assert(offsetof(Echo6Reply, DATA) == sizeof(ICMPV6_ECHO_REPLY));

// The ICMPv6 echo service's handle; like IcmpCreateFile's it holds nothing, and
// IcmpCloseHandle closes it. Only its handles are taken by Icmp6SendEcho2.
HANDLE Icmp6CreateFile();

// Sends one ICMPv6 echo request to `destination` and waits up to `timeout`
// milliseconds for its answer, as IcmpSendEcho does for IPv4: an echo reply, or an
// ICMPv6 error about this request mapped to the same IP status values (hop limit
// exceeded -> IP_TTL_EXPIRED_TRANSIT, no route -> IP_DEST_NET_UNREACHABLE, address
// unreachable and prohibited -> IP_DEST_HOST_UNREACHABLE, port unreachable ->
// IP_DEST_PORT_UNREACHABLE, too big -> IP_PACKET_TOO_BIG). The reply buffer holds
// an ICMPV6_ECHO_REPLY and the returned data after it; `replySize` must leave room
// for `requestSize` bytes of it. Returns 1, or 0 with the reason in the reply's
// Status. `requestOptions->TTL` is the hop limit (0: the system's), its TOS the
// traffic class. `source` may be null or unspecified. Only the synchronous call is
// served: with an event or an APC routine the request is refused
// (IP_GENERAL_FAILURE), as nothing here could signal them.
DWORD Icmp6SendEcho2(HANDLE handle, HANDLE event, void* apcRoutine, void* apcContext,
                     const sockaddr_in6* source, const sockaddr_in6* destination,
                     const void* requestData, WORD requestSize,
                     const IP_OPTION_INFORMATION* requestOptions, void* replyBuffer,
                     DWORD replySize, DWORD timeout);

// Our own addition, not part of the service: which kind of socket the calling
// thread's last IcmpSendEcho or Icmp6SendEcho2 used (for tests and diagnostics).
enum class IcmpSocketKind { None, Ping, Raw };
IcmpSocketKind IcmpLastSocketKind();

} // namespace win
