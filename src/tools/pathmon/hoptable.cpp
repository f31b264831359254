#include "tools/pathmon/hoptable.h"

#include "platform/text.h"
#include "tools/icmp/dottedaddress.h"

#include <algorithm>

namespace tools {
namespace {

ui::ReportCell figure(double value) {
    return {text::fixed(value, 1), true, value};
}

ui::ReportCell count(std::size_t value) {
    return {std::to_string(value), true, static_cast<double>(value)};
}

} // namespace

void HopTable::clear(bool v6) {
    m_hops.clear();
    m_v6 = v6;
}

std::uint32_t HopTable::addressKey(const net::SocketAddress& address) {
    for (std::size_t i = 0; i < m_addresses6.size(); ++i)
        if (m_addresses6[i].sameHost(address)) return static_cast<std::uint32_t>(i + 1);
    m_addresses6.push_back(address);
    return static_cast<std::uint32_t>(m_addresses6.size());
}

net::SocketAddress HopTable::addressOf(std::uint32_t key) const {
    return key >= 1 && key <= m_addresses6.size() ? m_addresses6[key - 1] : net::SocketAddress{};
}

void HopTable::setName6(std::uint32_t key, const std::string& name) {
    m_names6[key] = name;
    for (Hop& hop : m_hops)
        if (std::find(hop.addresses.begin(), hop.addresses.end(), key) != hop.addresses.end())
            hop.dirty = true;
}

void HopTable::add(int ttl, const HopSample& sample) {
    if (ttl < 1) return;
    if (static_cast<std::size_t>(ttl) > m_hops.size()) m_hops.resize(static_cast<std::size_t>(ttl));
    Hop& hop = m_hops[static_cast<std::size_t>(ttl) - 1];
    // A loss is known only at its time-out, after later probes' answers: each
    // sample goes where its sending time puts it.
    auto at = hop.samples.end();
    while (at != hop.samples.begin() && std::prev(at)->time > sample.time)
        --at;
    hop.samples.insert(at, sample);
    while (hop.samples.size() > MaxSamples ||
           hop.samples.front().time < hop.samples.back().time - SpanSeconds)
        hop.samples.pop_front();
    if (!sample.lost &&
        std::find(hop.addresses.begin(), hop.addresses.end(), sample.from) == hop.addresses.end())
        hop.addresses.push_back(sample.from);
    hop.dirty = true;
}

void HopTable::endAt(int hops) {
    if (hops >= 0 && static_cast<std::size_t>(hops) < m_hops.size())
        m_hops.resize(static_cast<std::size_t>(hops));
}

void HopTable::setName(std::uint32_t address, const std::string& name) {
    m_names[address] = name;
    for (Hop& hop : m_hops)
        if (std::find(hop.addresses.begin(), hop.addresses.end(), address) != hop.addresses.end())
            hop.dirty = true;
}

std::string HopTable::hostText(std::uint32_t address) const {
    const auto& names = m_v6 ? m_names6 : m_names;
    auto it = names.find(address);
    const std::string dotted = m_v6 ? addressOf(address).hostText() : AddressText(address);
    return it == names.end() ? dotted : it->second + " (" + dotted + ")";
}

std::vector<ui::ReportRow> HopTable::hopReport(int number, const Hop& hop) const {
    std::vector<ui::ReportRow> rows;
    auto row = [&](const std::string& host, const HopFigures& f, bool withLoss) {
        ui::ReportRow r{{std::to_string(number), true, static_cast<double>(number)},
                        {host, false, 0}};
        r.push_back(withLoss ? figure(f.lossPercent) : ui::ReportCell{});
        r.push_back(count(f.sent));
        for (double v : {f.last, f.mean, f.best, f.worst, f.stdDev, f.jitter})
            r.push_back(f.replies > 0 ? figure(v) : ui::ReportCell{});
        rows.push_back(std::move(r));
    };
    const HopFigures all = hopFigures(hop.samples);
    if (hop.addresses.empty()) {
        row("???", all, true);
        return rows;
    }
    // With one address the hop's own figures; with more, the first row carries the
    // hop's loss and every row the times of its own address's replies.
    for (std::size_t i = 0; i < hop.addresses.size(); ++i) {
        const std::uint32_t a = hop.addresses[i];
        HopFigures f = hop.addresses.size() == 1 ? all : hopFigures(hop.samples, a);
        if (i == 0 && hop.addresses.size() > 1) {
            f.lossPercent = all.lossPercent;
            f.sent = all.sent;
        }
        row(hostText(a), f, i == 0);
    }
    return rows;
}

std::vector<ui::Row> HopTable::rows() {
    std::vector<ui::Row> out;
    for (std::size_t i = 0; i < m_hops.size(); ++i) {
        Hop& hop = m_hops[i];
        if (hop.dirty) {
            hop.rows.clear();
            for (const ui::ReportRow& r : hopReport(static_cast<int>(i) + 1, hop)) {
                ui::Row row;
                for (const ui::ReportCell& c : r)
                    row.push_back(c.text);
                hop.rows.push_back(std::move(row));
            }
            // The hop's number stands once, on its first row.
            for (std::size_t k = 1; k < hop.rows.size(); ++k)
                hop.rows[k][0].clear();
            hop.dirty = false;
        }
        out.insert(out.end(), hop.rows.begin(), hop.rows.end());
    }
    return out;
}

std::vector<ui::ReportRow> HopTable::report() const {
    std::vector<ui::ReportRow> out;
    for (std::size_t i = 0; i < m_hops.size(); ++i) {
        auto rows = hopReport(static_cast<int>(i) + 1, m_hops[i]);
        out.insert(out.end(), rows.begin(), rows.end());
    }
    return out;
}

} // namespace tools
