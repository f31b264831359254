#include "platform/sockettable.h"

#include <netinet/in.h>
#include <sys/socket.h>

namespace win {

SocketTable& SocketTable::instance() {
    // Never destroyed: worker threads may still ask after main() has returned.
    static SocketTable* table = new SocketTable;
    return *table;
}

std::uint64_t SocketTable::add(int fd, int type, bool nonBlocking) {
    std::lock_guard lock(m_mutex);
    SocketRecord record;
    record.stamp = m_nextStamp++;
    record.type = type;
    record.nonBlocking = nonBlocking;
    m_records[fd] = record;
    return record.stamp;
}

std::optional<SocketRecord> SocketTable::find(int fd) const {
    std::lock_guard lock(m_mutex);
    auto it = m_records.find(fd);
    if (it == m_records.end()) return std::nullopt;
    return it->second;
}

bool SocketTable::remove(int fd) {
    std::lock_guard lock(m_mutex);
    return m_records.erase(fd) > 0;
}

bool SocketTable::isCurrent(int fd, std::uint64_t stamp) const {
    std::lock_guard lock(m_mutex);
    auto it = m_records.find(fd);
    return it != m_records.end() && it->second.stamp == stamp;
}

void SocketTable::setCallerReuseAddr(int fd, bool on) {
    std::lock_guard lock(m_mutex);
    if (auto it = m_records.find(fd); it != m_records.end()) it->second.callerReuseAddr = on;
}

void SocketTable::setSendShutdown(int fd) {
    std::lock_guard lock(m_mutex);
    if (auto it = m_records.find(fd); it != m_records.end()) it->second.sendShutdown = true;
}

void SocketTable::setConnectStarted(int fd) {
    std::lock_guard lock(m_mutex);
    if (auto it = m_records.find(fd); it != m_records.end()) it->second.connectStarted = true;
}

void SocketTable::setNonBlocking(int fd, bool on) {
    std::lock_guard lock(m_mutex);
    if (auto it = m_records.find(fd); it != m_records.end()) it->second.nonBlocking = on;
}

void SocketTable::setBound(int fd, const BoundName& bound) {
    std::lock_guard lock(m_mutex);
    if (auto it = m_records.find(fd); it != m_records.end()) it->second.bound = bound;
}

bool SocketTable::streamPortTaken(int fd, const BoundName& wanted) const {
    std::lock_guard lock(m_mutex);
    for (const auto& [otherFd, record] : m_records)
        if (otherFd != fd && record.type == SOCK_STREAM && record.bound.overlaps(wanted))
            return true;
    return false;
}

} // namespace win
