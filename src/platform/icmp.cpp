#include "platform/icmp.h"

#include "platform/icmpsocket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <linux/icmp.h>
#include <netinet/icmp6.h>

namespace win {
namespace {

// The one handle the service gives out: it stands for the service, not for a
// resource, so any number of them may be opened and left open.
char g_service = 0;
char g_service6 = 0;

thread_local IcmpSocketKind t_lastKind = IcmpSocketKind::None;

// The IP status Windows reports for an ICMP error about an echo request.
DWORD statusOf(std::uint8_t type, std::uint8_t code) {
    switch (type) {
    case ICMP_ECHOREPLY:
        return IP_SUCCESS;
    case ICMP_TIME_EXCEEDED:
        return code == ICMP_EXC_FRAGTIME ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
    case ICMP_PARAMETERPROB:
        return IP_PARAM_PROBLEM;
    case ICMP_SOURCE_QUENCH:
        return IP_SOURCE_QUENCH;
    case ICMP_DEST_UNREACH:
        switch (code) {
        case ICMP_NET_UNREACH:
        case ICMP_NET_UNKNOWN:
        case ICMP_NET_ANO:
        case ICMP_NET_UNR_TOS:
            return IP_DEST_NET_UNREACHABLE;
        case ICMP_PROT_UNREACH:
            return IP_DEST_PROT_UNREACHABLE;
        case ICMP_PORT_UNREACH:
            return IP_DEST_PORT_UNREACHABLE;
        case ICMP_FRAG_NEEDED:
            return IP_PACKET_TOO_BIG;
        case ICMP_SR_FAILED:
            return IP_BAD_ROUTE;
        default:
            return IP_DEST_HOST_UNREACHABLE; // host unknown, prohibited, filtered
        }
    }
    return IP_GENERAL_FAILURE;
}

// The same for ICMPv6, whose errors Windows maps to the IPv4 values: the tools
// show one set of texts for both families.
DWORD statusOf6(std::uint8_t type, std::uint8_t code) {
    switch (type) {
    case ICMP6_ECHO_REPLY:
        return IP_SUCCESS;
    case ICMP6_TIME_EXCEEDED:
        return code == ICMP6_TIME_EXCEED_REASSEMBLY ? IP_TTL_EXPIRED_REASSEM
                                                    : IP_TTL_EXPIRED_TRANSIT;
    case ICMP6_PACKET_TOO_BIG:
        return IP_PACKET_TOO_BIG;
    case ICMP6_PARAM_PROB:
        return IP_PARAM_PROBLEM;
    case ICMP6_DST_UNREACH:
        switch (code) {
        case ICMP6_DST_UNREACH_NOROUTE:
            return IP_DEST_NET_UNREACHABLE;
        case ICMP6_DST_UNREACH_NOPORT:
            return IP_DEST_PORT_UNREACHABLE;
        default:
            return IP_DEST_HOST_UNREACHABLE; // address unreachable, prohibited, policy
        }
    }
    return IP_GENERAL_FAILURE;
}

// The IP status for a request the system would not even send.
DWORD statusOfSendError(int error) {
    switch (error) {
    case ENETUNREACH:
        return IP_DEST_NET_UNREACHABLE;
    case EHOSTUNREACH:
        return IP_DEST_HOST_UNREACHABLE;
    case EMSGSIZE:
        return IP_PACKET_TOO_BIG;
    case ENOBUFS:
    case ENOMEM:
        return IP_NO_RESOURCES;
    }
    return IP_GENERAL_FAILURE;
}

} // namespace

HANDLE IcmpCreateFile() {
    return &g_service;
}

HANDLE Icmp6CreateFile() {
    return &g_service6;
}

BOOL IcmpCloseHandle(HANDLE handle) {
    return handle == &g_service || handle == &g_service6 ? 1 : 0;
}

IcmpSocketKind IcmpLastSocketKind() {
    return t_lastKind;
}

DWORD IcmpSendEcho(HANDLE handle, IPAddr destination, const void* requestData, WORD requestSize,
                   const IP_OPTION_INFORMATION* requestOptions, void* replyBuffer, DWORD replySize,
                   DWORD timeout) {
    t_lastKind = IcmpSocketKind::None;
    // Without room for the record itself there is nowhere to say anything.
    if (replyBuffer == nullptr || replySize < EchoReplyHeaderSize) return 0;
    // The request may live in the reply buffer (the traceroute passes the options
    // block of its reply record), so it is taken before the reply is cleared.
    const bool hasOptions = requestOptions != nullptr;
    IP_OPTION_INFORMATION options{};
    if (hasOptions) options = *requestOptions;
    std::vector<std::uint8_t> data;
    if (requestData != nullptr) {
        const auto* bytes = static_cast<const std::uint8_t*>(requestData);
        data.assign(bytes, bytes + requestSize);
    }
    // The record is packed, so it may lie at any address the caller chose.
    std::memset(replyBuffer, 0, EchoReplyHeaderSize);
    auto* reply = static_cast<EchoReply*>(replyBuffer);
    reply->DATAPOINTER = EchoReplyHeaderSize;
    const auto fail = [reply](DWORD status) {
        reply->STATUS = status;
        return DWORD(0);
    };
    if (handle != &g_service) return fail(IP_GENERAL_FAILURE);
    if (replySize < EchoReplyHeaderSize + requestSize) return fail(IP_BUF_TOO_SMALL);
    if (requestSize > 0 && requestData == nullptr) return fail(IP_BAD_REQ);
    if (destination == 0) return fail(IP_BAD_DESTINATION);
    if (hasOptions && options.OPTIONSSIZE != 0) return fail(IP_BAD_OPTION);

    IcmpSocket socket;
    t_lastKind = socket.kind();
    if (!socket.isOpen()) return fail(IP_GENERAL_FAILURE);
    if (hasOptions) socket.setOptions(options.TTL, options.TOS, (options.FLAGS & IP_FLAG_DF) != 0);

    const auto sentAt = std::chrono::steady_clock::now();
    if (const int error = socket.send(destination, data.data(), data.size()))
        return fail(statusOfSendError(error));
    const auto answer = socket.await(sentAt + std::chrono::milliseconds(timeout));
    if (!answer) return fail(IP_REQ_TIMED_OUT);

    reply->ADDRESS = answer->from;
    reply->STATUS = statusOf(answer->type, answer->code);
    reply->ROUNDTRIPTIME =
        static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - sentAt)
                                       .count());
    reply->OPTIONS.TTL = answer->ttl;
    reply->OPTIONS.TOS = answer->tos;
    const std::size_t room = replySize - EchoReplyHeaderSize;
    const std::size_t size = std::min(answer->data.size(), room);
    char* returned = static_cast<char*>(replyBuffer) + EchoReplyHeaderSize;
    if (size > 0) std::memcpy(returned, answer->data.data(), size);
    // A terminator where there is room, so that the data can be read as text.
    if (size < room) returned[size] = '\0';
    reply->DATASIZE = static_cast<std::uint32_t>(size);
    return 1;
}

DWORD Icmp6SendEcho2(HANDLE handle, HANDLE event, void* apcRoutine, void* /*apcContext*/,
                     const sockaddr_in6* source, const sockaddr_in6* destination,
                     const void* requestData, WORD requestSize,
                     const IP_OPTION_INFORMATION* requestOptions, void* replyBuffer,
                     DWORD replySize, DWORD timeout) {
    t_lastKind = IcmpSocketKind::None;
    constexpr DWORD header = sizeof(ICMPV6_ECHO_REPLY);
    if (replyBuffer == nullptr || replySize < header) return 0;
    // Taken before the reply is cleared: the caller may keep them in its buffer.
    IP_OPTION_INFORMATION options{};
    if (requestOptions != nullptr) options = *requestOptions;
    std::vector<std::uint8_t> data;
    if (requestData != nullptr) {
        const auto* bytes = static_cast<const std::uint8_t*>(requestData);
        data.assign(bytes, bytes + requestSize);
    }
    std::memset(replyBuffer, 0, header);
    auto* reply = static_cast<ICMPV6_ECHO_REPLY*>(replyBuffer);
    const auto fail = [reply](DWORD status) {
        reply->Status = status;
        return DWORD(0);
    };
    if (handle != &g_service6 || event != nullptr || apcRoutine != nullptr)
        return fail(IP_GENERAL_FAILURE);
    if (replySize < header + requestSize) return fail(IP_BUF_TOO_SMALL);
    if (requestSize > 0 && requestData == nullptr) return fail(IP_BAD_REQ);
    if (destination == nullptr || IN6_IS_ADDR_UNSPECIFIED(&destination->sin6_addr))
        return fail(IP_BAD_DESTINATION);
    if (options.OPTIONSSIZE != 0) return fail(IP_BAD_OPTION);

    IcmpSocket socket(AF_INET6);
    t_lastKind = socket.kind();
    if (!socket.isOpen()) return fail(IP_GENERAL_FAILURE);
    if (requestOptions != nullptr) socket.setOptions(options.TTL, options.TOS, false);

    const auto sentAt = std::chrono::steady_clock::now();
    if (const int error = socket.send6(source, *destination, data.data(), data.size()))
        return fail(statusOfSendError(error));
    const auto answer = socket.await(sentAt + std::chrono::milliseconds(timeout));
    if (!answer) return fail(IP_REQ_TIMED_OUT);

    reply->Address.sin6_port = answer->from6.sin6_port;
    reply->Address.sin6_flowinfo = answer->from6.sin6_flowinfo;
    std::memcpy(reply->Address.sin6_addr, &answer->from6.sin6_addr, 16);
    reply->Address.sin6_scope_id = answer->from6.sin6_scope_id;
    reply->Status = statusOf6(answer->type, answer->code);
    reply->RoundTripTime =
        static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - sentAt)
                                       .count());
    const std::size_t room = replySize - header;
    const std::size_t size = std::min(answer->data.size(), room);
    char* returned = static_cast<char*>(replyBuffer) + header;
    if (size > 0) std::memcpy(returned, answer->data.data(), size);
    if (size < room) returned[size] = '\0';
    return 1;
}

} // namespace win
