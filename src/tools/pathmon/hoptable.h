#pragma once
#include "net/socketaddress.h"
#include "tools/pathmon/hopstatistics.h"
#include "ui/windowmodel.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tools {

// The hops of one run and what their probes came to: each hop's samples of the
// last SpanSeconds (at most MaxSamples, so memory does not grow with the run), the
// addresses it answered from, and the rows and report built from them.
class HopTable {
public:
    static constexpr double SpanSeconds = 600;
    static constexpr std::size_t MaxSamples = 12000;

    // A run over IPv6 (`v6`) keeps its answering addresses in the table, and its
    // samples carry an address's key (addressKey) where IPv4 samples carry the
    // address itself.
    void clear(bool v6 = false);
    // A probe to hop `ttl` (1 up) came to `sample`; hops past the path's end are
    // not kept.
    void add(int ttl, const HopSample& sample);
    // The path ends at hop `hops` (the destination answered there): hops past it go.
    void endAt(int hops);
    int hops() const { return static_cast<int>(m_hops.size()); }

    // A name for an address, once its reverse look-up answered.
    void setName(std::uint32_t address, const std::string& name);

    // The key of an IPv6 address, the same for the life of the table, never 0.
    std::uint32_t addressKey(const net::SocketAddress& address);
    net::SocketAddress addressOf(std::uint32_t key) const;
    void setName6(std::uint32_t key, const std::string& name);

    // The list: one row per hop, a further row per further address it answered
    // from. Hop, Host, Loss%, Snt, Last, Avg, Best, Wrst, StDev, Jitter.
    std::vector<ui::Row> rows();
    // The same as figures, for the end-of-run report.
    std::vector<ui::ReportRow> report() const;

private:
    struct Hop {
        std::deque<HopSample> samples;
        std::vector<std::uint32_t> addresses; // in the order they first answered
        std::vector<ui::Row> rows;            // built when `dirty`
        bool dirty = true;
    };
    std::string hostText(std::uint32_t address) const;
    std::vector<ui::ReportRow> hopReport(int number, const Hop& hop) const;

    std::vector<Hop> m_hops;
    std::map<std::uint32_t, std::string> m_names;
    bool m_v6 = false;
    std::vector<net::SocketAddress> m_addresses6; // key - 1
    std::map<std::uint32_t, std::string> m_names6;
};

} // namespace tools
