#pragma once
#include "platform/boundname.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace win {

// What the socket layer remembers of one open socket beyond the kernel's state.
struct SocketRecord {
    // Identifies this socket's life: a descriptor number is reused after close,
    // a stamp never is.
    std::uint64_t stamp = 0;
    int type = 0; // SOCK_STREAM, SOCK_DGRAM, ...
    // The caller's own SO_REUSEADDR: the kernel option is set on our behalf to get
    // Windows' bind rules, so getsockopt answers with this instead.
    bool callerReuseAddr = false;
    bool sendShutdown = false; // shutdown() closed our sending side
    bool connectStarted = false;
    // O_NONBLOCK is set: known here so that no call has to ask the kernel.
    bool nonBlocking = false;
    // Where bind() put a stream socket, for Windows' rule that a second stream
    // socket may not bind an address already taken.
    BoundName bound;
};

// The open sockets of the process, by descriptor. Thread-safe.
class SocketTable {
public:
    static SocketTable& instance();

    // Records a new socket and returns its stamp.
    std::uint64_t add(int fd, int type, bool nonBlocking = false);
    std::optional<SocketRecord> find(int fd) const;
    bool remove(int fd);
    bool isCurrent(int fd, std::uint64_t stamp) const;

    void setCallerReuseAddr(int fd, bool on);
    void setSendShutdown(int fd);
    void setConnectStarted(int fd);
    void setNonBlocking(int fd, bool on);
    void setBound(int fd, const BoundName& bound);
    // True when a stream socket other than `fd` is bound where `wanted` would
    // take traffic too (BoundName::overlaps).
    bool streamPortTaken(int fd, const BoundName& wanted) const;

private:
    mutable std::mutex m_mutex;
    std::unordered_map<int, SocketRecord> m_records;
    std::uint64_t m_nextStamp = 1;
};

} // namespace win
