#include "tools/blockers/portblocker.h"

#include "net/holderlines.h"
#include "net/shellstate.h"
#include "net/socketeventhook.h"
#include "net/soundcue.h"
#include "net/syslogalert.h"
#include "net/winsockerror.h"
#include "platform/system.h"
#include "platform/text.h"
#include "settings/settingsfile.h"
#include "ui/frontend.h"

#include <algorithm>
#include <chrono>

namespace tools {
namespace {

constexpr std::size_t AlarmWidth = 20;
constexpr const char* DefaultAlarm = "Alarm.wav";

std::string slotText(std::size_t slot) {
    return "[" + std::to_string(slot) + "]";
}

ui::ControlDef list(int number, std::vector<ui::ColumnDef> columns, ui::LayoutHint layout) {
    ui::ControlDef c;
    c.number = number;
    c.kind = ui::ControlKind::List;
    c.columns = std::move(columns);
    c.layout = layout;
    return c;
}

} // namespace

PortBlocker::PortBlocker(const Traits& traits, ui::WindowDefinition definition)
    : ToolWindow(traits.procedure, std::move(definition)), m_traits(traits),
      m_log(model(), LogControl, LogWidth, net::EventLog::Limit::EmptyAt250) {
    m_sockets.fill(win::INVALID_SOCKET);
    m_sockets6.fill(win::INVALID_SOCKET);
}

ui::WindowDefinition PortBlocker::makeDefinition(const char* caption, const char* description,
                                                 int portColumnWidth,
                                                 std::vector<ui::ControlDef> controls) {
    ui::WindowDefinition d;
    d.caption = caption;
    d.description = description;
    d.width = 400;
    d.height = 210;
    d.toolWindowStyle = true;
    d.controls.push_back(list(LogControl, {{71, "", 20}, {320, "", 80}}, {0, 0, 1, 3}));
    d.controls.push_back(
        list(PortsControl, {{portColumnWidth, "", 10}, {160, "", 40}}, {1, 0, 4, 1}));
    for (auto& c : controls)
        d.controls.push_back(std::move(c));
    return d;
}

ui::ControlDef PortBlocker::control(int number, ui::ControlKind kind, const char* label,
                                    ui::LayoutHint layout) {
    ui::ControlDef c = ui::makeControl(number, kind, label);
    c.layout = layout;
    return c;
}

ui::ControlDef PortBlocker::alarmEntry(int number, ui::LayoutHint layout) {
    ui::ControlDef c = control(number, ui::ControlKind::Entry, "", layout);
    c.chars = static_cast<int>(AlarmWidth);
    c.value = DefaultAlarm;
    c.toolTip = "Wave file played on a hit";
    return c;
}

// --- start-up ---------------------------------------------------------------------

void PortBlocker::onOpen() {
    readSettings();
    model().setChecked(m_traits.soundControl, shell::soundOn());
    // The box is the process's one sound switch: it follows the frame's menu and
    // the other blockers.
    m_soundWatch = std::make_unique<shell::SoundWatch>([this](bool on) {
        if (model().checked(m_traits.soundControl) != on)
            model().setChecked(m_traits.soundControl, on);
    });
    m_hook = std::make_shared<net::SocketEventHook>(net::SocketEventHook::Variant::Server);
    installHook(m_hook);
    m_host = net::StartupBanner(*this, m_log, net::ReportVariant::LogAndSound,
                                [this](const net::LocalHost& host) {
                                    m_host = host;
                                    model().setCaption(blockerCaption());
                                });
    loadPortList();
    setUpSockets();
    startNotices();
}

void PortBlocker::startNotices() {
    if (!m_notify) return;
    const ui::FrontEnd::NotificationSupport support =
        frontEnd() ? frontEnd()->notificationSupport() : ui::FrontEnd::NotificationSupport{};
    if (support.available)
        m_notices = std::make_unique<HitNotices>(text::trimRight(definition().description));
    else if (!support.why.empty())
        m_log.add("notifications are off: " + support.why);
}

void PortBlocker::readSettings() {
    // A key of its own, read whatever the first key holds: an administrator adds it
    // by hand to a section the window may never have written.
    m_syslog = net::syslogAlerts() ||
               text::leadingInteger(ReadSetting(m_traits.section, "Syslog", "")) != 0;
    // The section counts only when its first key has a value; otherwise both
    // settings keep their start values.
    const std::string notify = text::trimRight(ReadSetting(m_traits.section, "Notify", ""));
    m_notify = notify.empty() || text::leadingInteger(notify) != 0;
    const std::string ignore = ReadSetting(m_traits.section, "Ignore local", "");
    if (text::trimRight(ignore).empty()) return;
    model().setChecked(m_traits.ignoreLocalControl, text::leadingInteger(ignore) != 0);
    model().setValue(m_traits.alarmControl,
                     text::cut(ReadSetting(m_traits.section, "Alarm", ""), AlarmWidth));
}

void PortBlocker::writeSettings() {
    WriteSetting(m_traits.section, "Ignore local",
                 model().checked(m_traits.ignoreLocalControl) ? "1" : "0");
    WriteSetting(m_traits.section, "Alarm",
                 text::trimRight(text::cut(model().value(m_traits.alarmControl), AlarmWidth)));
}

void PortBlocker::loadPortList() {
    m_portList = portlist::load(portlist::readFile(portlist::path(m_traits.fileName)));
    std::vector<ui::Row> rows;
    rows.reserve(m_portList.size());
    for (const auto& r : m_portList)
        rows.push_back({r.port, r.description});
    model().setRows(PortsControl, std::move(rows));
    if (m_portList.empty()) {
        net::PlayCue(*this, "Problem.wav");
        messageBox(std::string("Create a file: ") + m_traits.fileName +
                       "  with comma|delimited records (Port, Description)||80, Http|1456, "
                       "Custom|etc.. max 100 records",
                   "", ui::BoxIcon::None, ui::BoxButtons::Ok);
    }
    model().redraw();
}

std::size_t PortBlocker::slotCount() const {
    return std::min(m_portList.size(), portlist::SocketSlots);
}

void PortBlocker::setUpSockets() {
    const std::string protocol = m_traits.protocol;
    if (m_portList.empty()) {
        m_log.add(std::string("No ports in ") + m_traits.fileName + " file !");
        logListSource(0);
        afterSetUp();
        return;
    }
    std::size_t ready = 0;
    m_noIpv6 = false;
    // Who holds a port that cannot be bound: read once for the whole list.
    win::PortHolders holders(m_traits.socketType);
    for (std::size_t i = 1; i <= slotCount(); ++i) {
        const PortRecord& record = m_portList[i - 1];
        const std::uint64_t value = portlist::portValue(record);
        win::SOCKET& s = m_sockets[i - 1];
        if (value > 65535) {
            // Cut to 16 bits it would trap some other port without saying so.
            m_log.add(protocol + " port: " + std::to_string(value) + " is not a port, no socket" +
                      slotText(i));
            continue;
        }
        m_log.add("creating socket" + slotText(i));
        s = win::socket(AF_INET, m_traits.socketType, 0);
        if (s == win::INVALID_SOCKET) {
            reportError();
        } else {
            m_log.add(protocol + " socket" + slotText(i) + " #" + std::to_string(s));
            m_orderOf[s] = (i - 1) * 2;
        }
        m_log.add("binding socket" + slotText(i));
        m_currentPort = static_cast<std::uint16_t>(value);
        win::sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = 0;
        address.sin_port = win::htons(m_currentPort);
        int bindError = 0;
        if (win::bind(s, reinterpret_cast<const win::sockaddr*>(&address), 16) != 0) {
            bindError = win::WSAGetLastError();
            reportError(bindError);
            if (bindError == win::WSAEADDRINUSE) net::logHolders(m_log, holders, m_currentPort);
        }
        afterBind(static_cast<int>(i), s);
        // A port either family traps is a trap: only one that neither can bind has
        // its row say that it does not trap, and why (the IPv4 reason, logged above).
        const bool trapped6 = setUpSocket6(i - 1, bindError == 0, holders);
        if (bindError == 0 || trapped6)
            ++ready;
        else
            model().setRowNote(PortsControl, i - 1, net::WinsockErrorMeaning(bindError));
        m_log.add("waiting to accept().. ");
        m_log.add(protocol + " port: " + std::to_string(m_currentPort) + " " +
                  text::trimRight(record.description));
        m_log.add(" ");
        if (win::WSAAsyncSelect(s, hwnd(), net::SocketNotifyMessage,
                                win::FD_READ | win::FD_ACCEPT | win::FD_CLOSE) != 0) {
            reportError();
            // Every hit searches all the sockets: one that stayed blocking would
            // hold the window in accept or recvfrom.
            win::u_long on = 1;
            win::ioctlsocket(s, static_cast<long>(FIONBIO), &on);
        }
    }
    if (m_portList.size() > portlist::SocketSlots)
        m_log.add("max 100 records: " + std::to_string(m_portList.size() - portlist::SocketSlots) +
                  " more left out");
    logListSource(ready);
    afterSetUp();
}

bool PortBlocker::setUpSocket6(std::size_t slot, bool v4Bound, win::PortHolders& holders) {
    if (m_noIpv6) return false;
    win::SOCKET& s6 = m_sockets6[slot];
    s6 = win::socket(AF_INET6, m_traits.socketType, 0);
    int error = s6 == win::INVALID_SOCKET ? win::WSAGetLastError() : 0;
    bool said = false;
    if (error == 0) {
        m_orderOf[s6] = slot * 2 + 1;
        const int on = 1;
        win::setsockopt(s6, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&on),
                        sizeof on);
        // A record whose port the system chose (port 0) traps that same port on IPv6.
        std::uint16_t port = m_currentPort;
        if (port == 0 && v4Bound) {
            net::SocketAddress own;
            int length = own.capacity();
            if (win::getsockname(m_sockets[slot], own.data(), &length) == 0) port = own.port();
        }
        const net::SocketAddress any = net::SocketAddress::any(AF_INET6, port);
        if (win::bind(s6, any.data(), any.size()) != 0) {
            error = win::WSAGetLastError();
            if (v4Bound && error == win::WSAEADDRINUSE) {
                reportError6(error);
                net::logHolders(m_log, holders, port);
                said = true;
            }
        } else if (m_traits.socketType == SOCK_STREAM && win::listen(s6, SOMAXCONN) != 0) {
            error = win::WSAGetLastError();
        } else if (win::WSAAsyncSelect(s6, hwnd(), net::SocketNotifyMessage,
                                       win::FD_READ | win::FD_ACCEPT | win::FD_CLOSE) != 0) {
            error = win::WSAGetLastError();
        }
        if (error == 0) return true;
        // A socket that does not trap is closed at once: it would only hold the port.
        m_orderOf.erase(s6);
        win::closesocket(s6);
        s6 = win::INVALID_SOCKET;
    }
    // A port that traps on neither family was reported for IPv4 already; a host
    // without IPv6 says so once a set-up.
    if (error == win::WSAEAFNOSUPPORT) m_noIpv6 = true;
    if (!said && (v4Bound || m_noIpv6)) reportError6(error);
    return false;
}

void PortBlocker::reportError6(int code) {
    m_log.addDirect(net::WinsockErrorName(static_cast<std::int16_t>(code)) + " (IPv6)");
    net::PlayCue(*this, "Error.wav");
}

void PortBlocker::logListSource(std::size_t ready) {
    // Which file was read, with its whole path: a list kept in another directory
    // than the one the program runs in is the usual reason for "No ports". A long
    // path goes on over further lines rather than being cut at the log's width.
    const std::string line = std::to_string(ready) + " ports set up from " +
                             portlist::path(m_traits.fileName);
    for (std::size_t at = 0; at < line.size(); at += LogWidth)
        m_log.add(line.substr(at, LogWidth));
}

// --- controls and events -------------------------------------------------------------

void PortBlocker::onControl(int control) {
    if (control == m_traits.editControl) {
        edit();
    } else if (control == m_traits.reloadControl) {
        reload();
    } else if (control == m_traits.soundControl) {
        shell::setSound(model().checked(control) ? 1 : 0);
    }
    // "ignore local" and the alarm file are read from the window at each hit.
}

void PortBlocker::onUserEvent(int event, win::WPARAM wParam, win::LPARAM) {
    switch (event) {
    case 1024:
        postClose();
        break;
    case 1126:
        onAccept(static_cast<win::SOCKET>(wParam));
        break;
    case 1127:
        onRead(static_cast<win::SOCKET>(wParam));
        break;
    case 1128:
        onClientClose();
        break;
    }
}

void PortBlocker::edit() {
    const std::string path = portlist::path(m_traits.fileName);
    if (!win::startEditor(path)) m_log.add(std::string("No editor to open ") + m_traits.fileName);
}

void PortBlocker::reload() {
    closeAll();
    m_log.clear();
    loadPortList();
    setUpSockets();
}

void PortBlocker::closeAll() {
    m_log.add("closing sockets..");
    // Each slot is forgotten once closed: its number may belong to a new socket
    // of this or another window by the next close-all.
    for (auto* table : {&m_sockets, &m_sockets6})
        for (win::SOCKET& s : *table) {
            if (s != win::INVALID_SOCKET) win::closesocket(s);
            s = win::INVALID_SOCKET;
        }
    m_orderOf.clear();
}

void PortBlocker::onClose() {
    m_soundWatch.reset();
    closeAll();
    m_log.clear();
    m_portList.clear();
    model().clearList(PortsControl);
    writeSettings();
    win::WSADetachWindow(hwnd());
}

// --- for the handlers ------------------------------------------------------------------

void PortBlocker::countHit() {
    m_hits = static_cast<std::int32_t>(static_cast<std::uint32_t>(m_hits) + 1u);
}

std::vector<PortBlocker::Announced> PortBlocker::announcedSockets(long event) {
    std::vector<std::pair<std::size_t, win::SOCKET>> order;
    for (const win::SOCKET s : win::WSAAnnouncedSockets(hwnd(), event))
        if (auto it = m_orderOf.find(s); it != m_orderOf.end()) order.emplace_back(it->second, s);
    std::sort(order.begin(), order.end());
    std::vector<Announced> sockets;
    sockets.reserve(order.size());
    for (const auto& [at, s] : order)
        sockets.push_back({at / 2, s});
    return sockets;
}

void PortBlocker::keepNotified(win::SOCKET notified, win::SOCKET taken) {
    // A socket earlier in the list than the one taken was called by the search,
    // or by an earlier one since its notification, which enabled it again.
    const auto it = m_orderOf.find(notified);
    const auto took = m_orderOf.find(taken);
    if (it == m_orderOf.end() || took == m_orderOf.end() || it->second <= took->second) return;
    if (win::WSAAsyncSelect(notified, hwnd(), net::SocketNotifyMessage,
                            win::FD_READ | win::FD_ACCEPT | win::FD_CLOSE) != 0)
        reportError();
}

std::string PortBlocker::blockerCaption() const {
    return std::string(m_traits.protocol) + " blocker " + text::trimRight(m_host.name) + " (" +
           text::trimRight(m_host.address) + ")";
}

void PortBlocker::reportError() {
    net::ReportWinsockError(*this, net::ReportVariant::LogAndSound, &m_log);
}

void PortBlocker::reportError(int code) {
    net::ReportWinsockCode(*this, net::ReportVariant::LogAndSound, &m_log, code);
}

bool PortBlocker::ignoredPeer(const net::SocketAddress& peer) {
    if (!model().checked(m_traits.ignoreLocalControl)) return false;
    if (peer.isV6()) return m_ownAddresses.containsV6(peer);
    const std::string dotted = peer.hostText();
    return dotted == text::trimRight(m_host.address) || dotted == "127.0.0.1";
}

void PortBlocker::setClientAddress(const net::SocketAddress& peer) {
    // 32 characters hold any IPv4 peer; an IPv6 one needs up to 45 and its brackets.
    m_clientAddress = text::cut(peer.text(), peer.isV6() ? 53 : 32);
}

std::string PortBlocker::recordText(const PortRecord& record) {
    return text::trimRight(record.port) + " " + text::trimRight(record.description);
}

void PortBlocker::playAlarm() {
    if (!shell::soundOn()) return;
    const std::string alarm = text::cut(model().value(m_traits.alarmControl), AlarmWidth);
    net::PlayCue(*this, text::cut(text::trimRight(alarm), 19));
}

void PortBlocker::alertHit(win::SOCKET local, const PortRecord& record,
                           const net::SocketAddress& peer, bool halfOpen) {
    if (!m_syslog && !m_notices) return;
    net::SocketAddress own;
    int length = own.capacity();
    win::getsockname(local, own.data(), &length);
    const std::uint16_t port = own.port();
    const std::string host = peer.hostText();
    if (m_syslog)
        net::sendSyslog(net::syslogHitLine(m_traits.procedure, m_traits.protocol, port, host,
                                           peer.port(), text::trimRight(record.description),
                                           halfOpen));
    if (m_notices) notifyHit(port, record, host);
}

void PortBlocker::notifyHit(std::uint16_t port, const PortRecord& record, const std::string& peer) {
    if (auto notice = m_notices->hit(port, record.description, peer, HitNotices::Clock::now())) {
        notifyDesktop(*notice);
        return;
    }
    if (!m_summaryWaits) sendSummary();
}

void PortBlocker::sendSummary() {
    m_summaryWaits = false;
    const auto now = HitNotices::Clock::now();
    if (auto summary = m_notices->summary(now)) notifyDesktop(*summary);
    const auto due = m_notices->due();
    if (!due) return;
    // Rounded up, so the call does not come a moment before the summary is due.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - now).count();
    m_summaryWaits = true;
    callAfter(static_cast<int>(std::max<long long>(wait, 0)), [this] { sendSummary(); });
}

} // namespace tools
