#include "platform/hostlookup.h"

#include "platform/winsock.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <sys/socket.h>

namespace win {

namespace {

constexpr std::size_t kLargestBuffer = std::size_t(1) << 20;

std::size_t alignUp(std::size_t n) {
    constexpr std::size_t a = alignof(char*);
    return (n + a - 1) / a * a;
}

std::size_t countOf(char** list) {
    std::size_t n = 0;
    while (list != nullptr && list[n] != nullptr) ++n;
    return n;
}

} // namespace

HostLookup::HostLookup() : m_buffer(2048) {}

template <typename Call>
int HostLookup::run(Call call) {
    for (;;) {
        hostent* result = nullptr;
        int hostError = 0;
        const int rc = call(m_buffer.data(), m_buffer.size(), &result, &hostError);
        if (rc == ERANGE && m_buffer.size() < kLargestBuffer) {
            m_buffer.resize(m_buffer.size() * 2);
            continue;
        }
        if (result != nullptr) return 0;
        // A failure without a resolver answer counts as "not found".
        return WSAErrorFromHostError(hostError != 0 ? hostError : HOST_NOT_FOUND);
    }
}

int HostLookup::byName(const char* name, int family) {
    if (family != AF_INET && family != AF_INET6) return WSAEAFNOSUPPORT;
    if (name == nullptr) return WSAEFAULT;
    return run([&](char* buf, std::size_t size, hostent** result, int* hostError) {
        if (family == AF_INET)
            return ::gethostbyname_r(name, &m_entry, buf, size, result, hostError);
        return ::gethostbyname2_r(name, family, &m_entry, buf, size, result, hostError);
    });
}

int HostLookup::byAddr(const char* addr, int len, int type) {
    if (type != AF_INET && type != AF_INET6) return WSAEAFNOSUPPORT;
    const int length = type == AF_INET ? 4 : 16;
    if (addr == nullptr || len < length) return WSAEFAULT;
    // An IPv6 address is asked for under ip6.arpa, or found in the hosts file.
    return run([&](char* buf, std::size_t size, hostent** result, int* hostError) {
        return ::gethostbyaddr_r(addr, socklen_t(length), type, &m_entry, buf, size, result,
                                 hostError);
    });
}

std::size_t packHostEntry(const hostent& entry, char* buf, std::size_t buflen) {
    // Layout: the hostent, the alias pointers, the address pointers (each list
    // ending with a null pointer), the addresses, then the strings.
    const std::size_t aliases = countOf(entry.h_aliases);
    const std::size_t addresses = countOf(entry.h_addr_list);
    const std::size_t addrLen = entry.h_length > 0 ? std::size_t(entry.h_length) : 0;
    const std::size_t aliasAt = alignUp(sizeof(hostent));
    const std::size_t addrPtrAt = aliasAt + (aliases + 1) * sizeof(char*);
    const std::size_t addrAt = addrPtrAt + (addresses + 1) * sizeof(char*);
    const std::size_t nameAt = addrAt + addresses * addrLen;
    std::size_t need = nameAt + std::strlen(entry.h_name != nullptr ? entry.h_name : "") + 1;
    for (std::size_t i = 0; i < aliases; ++i) need += std::strlen(entry.h_aliases[i]) + 1;
    if (need > buflen) return need;

    // memcpy throughout: the caller's buffer need not be aligned for us to write.
    auto putPointer = [&](std::size_t at, char* value) {
        std::memcpy(buf + at, &value, sizeof value);
    };
    auto putString = [&](std::size_t& at, const char* text) {
        const std::size_t n = std::strlen(text) + 1;
        std::memcpy(buf + at, text, n);
        char* placed = buf + at;
        at += n;
        return placed;
    };
    hostent packed{};
    std::size_t textAt = nameAt;
    packed.h_name = putString(textAt, entry.h_name != nullptr ? entry.h_name : "");
    packed.h_aliases = reinterpret_cast<char**>(buf + aliasAt);
    packed.h_addrtype = entry.h_addrtype;
    packed.h_length = entry.h_length;
    packed.h_addr_list = reinterpret_cast<char**>(buf + addrPtrAt);
    for (std::size_t i = 0; i < aliases; ++i)
        putPointer(aliasAt + i * sizeof(char*), putString(textAt, entry.h_aliases[i]));
    putPointer(aliasAt + aliases * sizeof(char*), nullptr);
    for (std::size_t i = 0; i < addresses; ++i) {
        std::memcpy(buf + addrAt + i * addrLen, entry.h_addr_list[i], addrLen);
        putPointer(addrPtrAt + i * sizeof(char*), buf + addrAt + i * addrLen);
    }
    putPointer(addrPtrAt + addresses * sizeof(char*), nullptr);
    std::memcpy(buf, &packed, sizeof packed);
    return need;
}

} // namespace win
