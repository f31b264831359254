#pragma once
#include <netdb.h>
#include <sys/socket.h>

#include <vector>

namespace win {

// One lookup in the system's host database, through the re-entrant resolver calls;
// the entry lives in this object until its next lookup. IPv4 unless a family is
// named: an AF_INET6 entry holds 16-byte addresses.
class HostLookup {
public:
    HostLookup();
    // 0, or the Winsock error (WSAHOST_NOT_FOUND ... WSANO_DATA, WSAEFAULT,
    // WSAEAFNOSUPPORT).
    int byName(const char* name, int family = AF_INET);
    // `type` AF_INET (`len` at least 4) or AF_INET6 (at least 16).
    int byAddr(const char* addr, int len, int type);
    hostent* entry() { return &m_entry; }

private:
    template <typename Call>
    int run(Call call);

    hostent m_entry{};
    std::vector<char> m_buffer;
};

// Copies `entry` into `buf` with every pointer pointing inside `buf` (which should
// be aligned for a pointer, as a hostent is put at its start). Returns the length
// the whole entry needs; nothing is written when that exceeds `buflen`.
std::size_t packHostEntry(const hostent& entry, char* buf, std::size_t buflen);

} // namespace win
