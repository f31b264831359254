#include "tools/pathmon/path_mon.h"

#include "net/socketeventhook.h"
#include "platform/text.h"
#include "platform/winsock.h"
#include "settings/settingsfile.h"
#include "tools/icmp/dottedaddress.h"

#include <QSocketNotifier>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace tools {
namespace {

constexpr const char* kSection = "Path monitor";
constexpr int kReadable = 1100;
constexpr int kLookup6 = 1101;
constexpr int kByAddr = 1027; // the lookup hook's events
constexpr int kByName = 1028;
constexpr std::size_t kHostWidth = 60;
constexpr std::size_t kNameWidth = 60;

// The interval, 0.05 to 60 seconds, as the timer's hundredths; 0 when out of range.
int intervalHundredths(const std::string& text) {
    const std::string t = text::trimRight(text);
    char* end = nullptr;
    const double seconds = std::strtod(t.c_str(), &end);
    if (t.empty() || end == nullptr || *end != '\0' || !(seconds >= 0.05 && seconds <= 60))
        return 0;
    return static_cast<int>(std::lround(seconds * 100));
}

// Rounds to send, 0 for no end; -1 when the text is not a count.
long roundCount(const std::string& text) {
    const std::string t = text::trimRight(text);
    if (t.empty()) return 0;
    char* end = nullptr;
    const long n = std::strtol(t.c_str(), &end, 10);
    return (*end != '\0' || n < 0) ? -1 : n;
}

ui::ControlDef control(int number, ui::ControlKind kind, const char* label, int row, int column) {
    return ui::makeControl(number, kind, label, row, column);
}

} // namespace

Path_mon::Path_mon()
    : ToolWindow("Path_mon", makeDefinition()),
      m_lookups6(std::make_unique<Ipv6Lookups>(*this, kLookup6)) {}

Path_mon::~Path_mon() = default;

ui::WindowDefinition Path_mon::makeDefinition() {
    using K = ui::ControlKind;
    ui::WindowDefinition d;
    d.caption = "Path monitor";
    d.description = "Monitor the path to an IP address";
    d.width = 420;
    d.height = 320;
    ui::ControlDef host = control(HostEntry, K::Entry, "", 0, 1);
    host.chars = 45;
    host.toolTip = "Host name, dotted or IPv6 address";
    ui::ControlDef interval = control(IntervalEntry, K::Entry, "", 0, 3);
    interval.chars = 5;
    interval.value = "1";
    interval.toolTip = "Seconds between rounds, 0.05 to 60";
    ui::ControlDef count = control(CountEntry, K::Entry, "", 0, 5);
    count.chars = 6;
    count.value = "0";
    count.toolTip = "Rounds to send, 0 until stopped";
    ui::ControlDef go = control(StartButton, K::Button, "Start", 0, 6);
    go.defaultButton = true;
    ui::ControlDef status = control(StatusField, K::Display, "", 1, 0);
    status.layout.columnSpan = 7;
    ui::ControlDef list = control(HopList, K::List, "", -1, 0);
    list.columns = {{18, "Hop", 0},   {110, "Host", 0}, {28, "Loss%", 0}, {22, "Snt", 0},
                    {26, "Last", 0},  {26, "Avg", 0},   {26, "Best", 0},  {26, "Wrst", 0},
                    {28, "StDev", 0}, {28, "Jitter", 0}};
    ui::ControlDef chart = control(LatencyChart, K::Chart, "Latency (ms)", -1, 0);
    chart.spanSeconds = static_cast<int>(HopTable::SpanSeconds);
    d.controls = {control(HostPrompt, K::Prompt, "Host:", 0, 0),
                  host,
                  control(IntervalPrompt, K::Prompt, "Interval (s):", 0, 2),
                  interval,
                  control(CountPrompt, K::Prompt, "Count:", 0, 4),
                  count,
                  go,
                  status,
                  list,
                  chart};
    return d;
}

void Path_mon::onOpen() {
    installHook(std::make_shared<net::SocketEventHook>(net::SocketEventHook::Variant::Lookup));
    const std::string host = text::trimRight(ReadSetting(kSection, "Host", ""));
    if (!host.empty()) {
        model().setValue(HostEntry, text::cut(host, kHostWidth));
        model().setValue(IntervalEntry, text::trimRight(ReadSetting(kSection, "Interval", "1")));
        model().setValue(CountEntry, text::trimRight(ReadSetting(kSection, "Count", "0")));
    }
    // `open Path_mon HOST [INTERVAL [COUNT]]` starts at once.
    if (text::trimRight(argument(0)).empty()) return;
    model().setValue(HostEntry, text::trimRight(text::cut(argument(0), kHostWidth)));
    if (!argument(1).empty()) model().setValue(IntervalEntry, argument(1));
    if (!argument(2).empty()) model().setValue(CountEntry, argument(2));
    start();
}

void Path_mon::onClose() {
    // Closing ends the run as Stop does, report included.
    if (running()) stop();
    win::WSADetachWindow(hwnd());
    m_lookups.clear();
    m_lookups6->detach();
    WriteSetting(kSection, "Host", text::trimRight(model().value(HostEntry)));
    WriteSetting(kSection, "Interval", text::trimRight(model().value(IntervalEntry)));
    WriteSetting(kSection, "Count", text::trimRight(model().value(CountEntry)));
}

void Path_mon::onControl(int control) {
    if (control != StartButton) return;
    if (running())
        stop();
    else
        start();
}

void Path_mon::showStatus(const std::string& text) {
    model().setValue(StatusField, text);
}

void Path_mon::start() {
    m_hundredths = intervalHundredths(model().value(IntervalEntry));
    m_count = roundCount(model().value(CountEntry));
    if (m_hundredths == 0) return showStatus("Interval: 0.05 to 60 seconds");
    if (m_count < 0) return showStatus("Count: a number of rounds, 0 until stopped");
    const std::string host = text::trimRight(model().value(HostEntry));
    if (host.empty()) return showStatus("Host: a name or a dotted address");
    if (const std::uint32_t address = ParseDottedAddress(host); address != 0) return begin(address);
    if (const auto literal = net::SocketAddress::fromText(host, 0); literal.isV6())
        return begin6(literal);
    // A name is looked up first, on a worker; the run starts when it answers.
    auto buffer = std::make_unique<LookupBuffer>();
    const win::HANDLE task = win::WSAAsyncGetHostByName(
        hwnd(), net::HostByNameMessage, host.c_str(), buffer->bytes, sizeof buffer->bytes);
    if (task == nullptr) return showStatus("Cannot look up " + host);
    m_lookups[reinterpret_cast<win::WPARAM>(task)] = std::move(buffer);
    model().setEnabled(StartButton, false);
    showStatus("Looking up " + host);
}

void Path_mon::begin(std::uint32_t target) {
    m_target6 = {};
    begin(std::make_unique<PathProbe>(target), AddressText(target));
}

void Path_mon::begin6(const net::SocketAddress& target) {
    m_target6 = target;
    begin(std::make_unique<PathProbe>(target), target.hostText());
}

void Path_mon::begin(std::unique_ptr<PathProbe> probe, const std::string& shown) {
    if (!probe->isOpen())
        return showStatus("No ICMP socket may be opened: see \"Allowing ping and traceroute\"");
    m_probe = std::move(probe);
    m_pathEnd = HopLimit;
    m_sent = 0;
    m_timeout = std::max<std::chrono::steady_clock::duration>(
        std::chrono::seconds(1), std::chrono::milliseconds(m_hundredths * 10));
    m_table.clear(m_target6.isV6());
    model().clearList(HopList);
    model().clearList(LatencyChart);
    m_notifier = std::make_unique<QSocketNotifier>(m_probe->fd(), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
        // Read once the handlers before it have run, as every other event is.
        m_notifier->setEnabled(false);
        postUserEvent(kReadable);
    });
    setRunning(true);
    showStatus("Monitoring " + shown);
    onTimer(); // the first round goes at once
    setTimer(m_hundredths);
}

void Path_mon::setRunning(bool running) {
    model().setValue(StartButton, running ? "Stop" : "Start");
    model().setEnabled(StartButton, true);
    for (int c : {HostEntry, IntervalEntry, CountEntry})
        model().setEnabled(c, !running);
}

void Path_mon::stop() {
    setTimer(0);
    m_notifier.reset();
    m_probe.reset(); // requests still out are neither lost nor answered: they never count
    showRows();
    model().report(HopList, m_table.report());
    setRunning(false);
    showStatus("Stopped after " + std::to_string(m_sent) + " rounds");
}

void Path_mon::onTimer() {
    if (!running()) return;
    const auto now = PathProbe::Clock::now();
    record(m_probe->expire(now, m_timeout));
    if (m_count > 0 && m_sent >= m_count) {
        // The last round's requests are answered or lost before the run ends.
        if (m_probe->inFlight() == 0) stop();
        return;
    }
    if (const int error = m_probe->sendRound(m_pathEnd, now); error != 0)
        showStatus(std::string("Send failed: ") + std::strerror(error));
    ++m_sent;
}

void Path_mon::onUserEvent(int event, win::WPARAM wParam, win::LPARAM lParam) {
    if (event == kReadable) socketReadable();
    if (event == kByAddr || event == kByName) lookupDone(wParam, lParam);
    if (event == kLookup6) lookup6Done(wParam);
}

void Path_mon::socketReadable() {
    if (!running()) return;
    record(m_probe->collect(PathProbe::Clock::now()));
    m_notifier->setEnabled(true);
    if (m_count > 0 && m_sent >= m_count && m_probe->inFlight() == 0) stop();
}

void Path_mon::record(const std::vector<PathProbe::Outcome>& outcomes) {
    if (outcomes.empty()) return;
    for (const PathProbe::Outcome& o : outcomes) {
        if ((o.reachedTarget || o.endsPath) && o.ttl < m_pathEnd) {
            // Rounds from now on stop here; what lay past it was the destination too.
            m_pathEnd = o.ttl;
            m_table.endAt(m_pathEnd);
        }
        if (o.ttl > m_pathEnd) continue;
        const auto rtt = static_cast<float>(o.rttMs);
        // An IPv6 address is kept once, in the table; its samples carry its key.
        const std::uint32_t from =
            o.lost || !m_target6.isV6() ? o.from : m_table.addressKey(o.from6);
        m_table.add(o.ttl, {o.lost, rtt, from, o.sentAt});
        model().addSample(LatencyChart, {o.ttl, o.sentAt, rtt, o.lost},
                          "Hop " + std::to_string(o.ttl));
        if (!o.lost) lookUp(from);
    }
    showRows();
}

void Path_mon::showRows() {
    std::vector<ui::Row> rows = m_table.rows();
    // Fewer rows: the path got shorter, and the list is written anew.
    if (rows.size() < model().rowCount(HopList)) return model().setRows(HopList, std::move(rows));
    for (std::size_t i = 0; i < rows.size(); ++i)
        model().setRow(HopList, i, std::move(rows[i]));
}

void Path_mon::lookUp(std::uint32_t address) {
    if (m_target6.isV6()) {
        if (m_asked6.insert(address).second) m_lookups6->name(m_table.addressOf(address), address);
        return;
    }
    if (address == 0 || !m_asked.insert(address).second) return;
    auto buffer = std::make_unique<LookupBuffer>();
    buffer->address = address;
    char bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    const win::HANDLE task = win::WSAAsyncGetHostByAddr(
        hwnd(), net::HostByAddrMessage, bytes, 4, AF_INET, buffer->bytes, sizeof buffer->bytes);
    if (task != nullptr) m_lookups[reinterpret_cast<win::WPARAM>(task)] = std::move(buffer);
}

void Path_mon::lookupDone(win::WPARAM handle, win::LPARAM reply) {
    auto it = m_lookups.find(handle);
    if (it == m_lookups.end()) return;
    const std::unique_ptr<LookupBuffer> buffer = std::move(it->second);
    m_lookups.erase(it);
    const bool found = win::WSAGETASYNCERROR(reply) == 0;
    const auto* entry = reinterpret_cast<const win::hostent*>(buffer->bytes);
    if (buffer->address != 0) {
        if (!found || entry->h_name == nullptr) return;
        m_table.setName(buffer->address, text::trimRight(text::cut(entry->h_name, kNameWidth)));
        showRows();
        return;
    }
    if (!found || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
        // A name without an IPv4 address may have IPv6 ones.
        m_target6Lookup = m_lookups6->target(text::trimRight(model().value(HostEntry)));
        return;
    }
    model().setEnabled(StartButton, true);
    std::uint32_t address = 0;
    std::memcpy(&address, entry->h_addr_list[0], sizeof address);
    begin(address);
}

void Path_mon::lookup6Done(win::WPARAM number) {
    const auto result = m_lookups6->take(number);
    if (!result) return;
    if (number != m_target6Lookup) {
        if (result->name.empty()) return;
        m_table.setName6(result->key, text::trimRight(text::cut(result->name, kNameWidth)));
        return showRows();
    }
    m_target6Lookup = 0;
    model().setEnabled(StartButton, true);
    if (!result->address.isV6())
        return showStatus("Host not found: " + text::trimRight(model().value(HostEntry)));
    begin6(result->address);
}

} // namespace tools
