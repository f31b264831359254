#include "tools/http/ws_http_s.h"

#include "net/bindretry.h"
#include "net/holderlines.h"
#include "net/resetclosehook.h"
#include "net/socketaddress.h"
#include "net/socketeventhook.h"
#include "net/winsockerror.h"
#include "platform/cp1250.h"
#include "platform/system.h"
#include "platform/text.h"
#include "settings/settingsfile.h"
#include "tools/http/requestline.h"
#include "tools/http/servedfile.h"
#include "tools/plain/ipv6listener.h"
#include "tools/plain/plainserver.h"
#include "tools/plain/porttext.h"
#include "ui/frontend.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace tools {
namespace {

constexpr const char* kSection = "Http Settings";
constexpr const char* kSettingsFile = ".\\VARlo.ini";
constexpr std::size_t kStatusWidth = 20;
constexpr std::size_t kFieldWidth = 128;
constexpr std::size_t kLastRequestWidth = 2099;

// A 32-bit count that wraps as it did where it was born, without the undefined
// overflow of a signed addition.
std::int32_t wrappingAdd(std::int32_t a, std::int64_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

ui::ControlDef control(int number, ui::ControlKind kind, const char* label, int row, int column) {
    return ui::makeControl(number, kind, label, row, column);
}

} // namespace

// The "Delay:" spin box takes effect as soon as the person changes it, not only
// when the field is next read.
class WS_http_s::DelayWatcher : public ui::ModelObserver {
public:
    explicit DelayWatcher(WS_http_s& window) : m_window(window) {}
    void modelChanged(const ui::Change& c) override {
        if (c.kind == ui::Change::Kind::Field && c.control == DelaySpin && c.byUser)
            m_window.postControl(DelaySpin);
    }

private:
    WS_http_s& m_window;
};

WS_http_s::WS_http_s()
    : ToolWindow("WS_http_s", makeDefinition()),
      m_log(model(), LogList, 60, net::EventLog::Limit::EmptyAt300, true),
      m_watcher(std::make_unique<DelayWatcher>(*this)) {
    model().addObserver(m_watcher.get());
}

WS_http_s::~WS_http_s() {
    model().removeObserver(m_watcher.get());
}

ui::WindowDefinition WS_http_s::makeDefinition() {
    using K = ui::ControlKind;
    ui::WindowDefinition d;
    d.caption = "HTTP server";
    d.width = 300;
    d.height = 210;
    d.toolWindowStyle = true;
    ui::ControlDef select = control(SelectDirButton, K::Button, "Select dir.", 0, 1);
    ui::ControlDef dir = control(DirEntry, K::Entry, "", 0, 2);
    dir.chars = kFieldWidth;
    dir.layout.columnSpan = 4;
    ui::ControlDef page = control(PageEntry, K::Entry, "", 1, 1);
    page.chars = kFieldWidth;
    page.layout.columnSpan = 2;
    ui::ControlDef test = control(TestButton, K::Button, "Test ", 1, 3);
    test.toolTip = "Test server";
    ui::ControlDef delay = control(DelaySpin, K::SpinBox, "", 2, 1);
    delay.chars = 4;
    delay.minimum = 1;
    delay.maximum = 200;
    delay.toolTip = "Server delay\n(speed)";
    ui::ControlDef clients = control(ClientsDisplay, K::Display, "", 2, 3);
    clients.chars = 3;
    ui::ControlDef list = control(LogList, K::List, "", -1, 0);
    list.columns = {ui::ColumnDef{73, " Time", 20}, ui::ColumnDef{160, " ...", 60}};
    ui::ControlDef request = control(RequestBox, K::TextBox, "", -1, 0);
    d.controls = {
        control(DirPrompt, K::Prompt, "Dir.:", 0, 0),
        select,
        dir,
        control(PagePrompt, K::Prompt, "Page:", 1, 0),
        page,
        test,
        control(DelayPrompt, K::Prompt, "Delay:", 2, 0),
        delay,
        control(ClientsPrompt, K::Prompt, "Clients:", 2, 2),
        clients,
        list,
        request,
    };
    return d;
}

std::string WS_http_s::rootDir() {
    return text::cut(model().value(DirEntry), kFieldWidth);
}

std::string WS_http_s::defaultPage() {
    return text::cut(model().value(PageEntry), kFieldWidth);
}

void WS_http_s::status(const std::string& line) {
    m_log.add(text::cut(line, kStatusWidth));
}

void WS_http_s::report() {
    net::ReportWinsockError(*this, net::ReportVariant::MarkedLogAndSound, &m_log);
}

void WS_http_s::reportCode(int code, const std::string& after) {
    net::ReportWinsockCode(*this, net::ReportVariant::MarkedLogAndSound, &m_log, code, after);
}

void WS_http_s::showCaption(bool retried) {
    model().setCaption(std::string(retried ? "TCP - " : "") + m_host.name + ":" +
                       std::to_string(m_serverPort) + " (" + m_host.address + ")");
}

void WS_http_s::onOpen() {
    // The served directory is the current one unless the settings name another;
    // a drive root means nothing here.
    std::string root = win::currentDirectory() + "/";
    std::string page = "default.htm";
    if (!text::trimRight(ReadSetting(kSection, "WShttpPath", "", kSettingsFile)).empty()) {
        root = ReadSetting(kSection, "WShttpPath", "", kSettingsFile);
        page = ReadSetting(kSection, "WShttpStr", "", kSettingsFile);
        m_delay = static_cast<std::int16_t>(
            text::leadingInteger(ReadSetting(kSection, "WShttpDel", "", kSettingsFile)));
    }
    model().setValue(DirEntry, text::cut(root, kFieldWidth));
    model().setValue(PageEntry, text::cut(page, kFieldWidth));
    model().setValue(DelaySpin, std::to_string(m_delay));
    m_serverPort = PlainServer::portFromParameter(argument(0), 8088);
    setTimer(m_delay);
    installHook(std::make_shared<net::SocketEventHook>(net::SocketEventHook::Variant::Server));
    // A peer that resets before its request line is whole frees its slot at once,
    // as one that closes does.
    installHook(std::make_shared<net::ResetCloseHook>());
    status("Initializing...");
    net::EnsureSockets(*this, net::ReportVariant::MarkedLogAndSound, &m_log);
    m_host = net::ReadLocalHost(*this, net::ReportVariant::MarkedLogAndSound, &m_log);
    showCaption(false);
    openListener();
}

void WS_http_s::openListener() {
    // Every step runs whatever the one before it reported.
    status("creating socket...");
    m_listen = win::socket(AF_INET, SOCK_STREAM, 0);
    if (m_listen == win::INVALID_SOCKET)
        report();
    else
        status("TCP Socket #" + std::to_string(m_listen));
    bindWithRetries();
    status("socket to listen...");
    if (win::listen(m_listen, 1) != 0) report();
    openIpv6();
    status("waiting to accept()...");
    if (win::WSAAsyncSelect(m_listen, hwnd(), net::SocketNotifyMessage,
                            win::FD_READ | win::FD_ACCEPT | win::FD_CLOSE) != 0)
        report();
}

void WS_http_s::bindWithRetries() {
    if (const int error = net::BindWithRetries(
            m_listen, m_serverPort, [this](const std::string& line) { status(line); },
            [this] { showCaption(true); }, kStatusWidth))
        reportCode(error);
}

void WS_http_s::openIpv6() {
    // On the port the IPv4 socket took, and only once it took one; silent unless
    // it fails, so a session over IPv4 reads as it always has. Its connections
    // take the same slots as the IPv4 ones.
    win::sockaddr_in own{};
    int length = sizeof own;
    if (win::getsockname(m_listen, reinterpret_cast<win::sockaddr*>(&own), &length) != 0) return;
    const auto twin = Ipv6Listener::open(SOCK_STREAM, m_serverPort, false, 1, hwnd());
    m_listen6 = twin.socket;
    if (twin.error) reportCode(twin.error, " (IPv6)");
    if (twin.error == win::WSAEADDRINUSE) {
        win::PortHolders holders(SOCK_STREAM);
        for (const auto& line :
             net::holderLines(holders.find(m_serverPort, AF_INET6), kStatusWidth))
            status(line);
    }
}

void WS_http_s::onUserEvent(int event, win::WPARAM wParam, win::LPARAM) {
    switch (event) {
    case 1024:
        postClose();
        break;
    case 1126:
        acceptClient(static_cast<win::SOCKET>(wParam));
        break;
    case 1127:
        readRequest(static_cast<win::SOCKET>(wParam));
        break;
    case 1128:
        peerClosed(static_cast<win::SOCKET>(wParam));
        break;
    }
}

void WS_http_s::acceptClient(win::SOCKET notified) {
    const bool v6 = notified == m_listen6 && notified != win::INVALID_SOCKET;
    net::SocketAddress peer;
    int length = net::SocketAddress::capacity();
    const win::SOCKET s = win::accept(v6 ? m_listen6 : m_listen, peer.data(), &length);
    if (s == win::INVALID_SOCKET) {
        report();
        return;
    }
    const std::string address = peer.text();
    // The slot is taken at once, so that a connection that never sends cannot
    // make a later one share its slot; the read that follows finds it by socket.
    for (int step = 1; step <= kSlots; ++step) {
        const int number = (m_nextSlot + step - 1) % kSlots + 1;
        ClientSlot& slot = m_slots[static_cast<std::size_t>(number - 1)];
        if (slot.socket != win::INVALID_SOCKET) continue;
        m_nextSlot = number;
        slot = ClientSlot{};
        slot.socket = s;
        slot.peer = address;
        slot.since = Clock::now();
        return;
    }
    // All ten are being served: the eleventh is told so by being closed at once.
    m_log.addDirect(address + " server busy, closed #" + std::to_string(s));
    if (win::closesocket(s) != 0) report();
}

void WS_http_s::readRequest(win::SOCKET s) {
    m_hits = wrappingAdd(m_hits, 1);
    ClientSlot* slot = nullptr;
    for (auto& candidate : m_slots)
        if (candidate.socket == s) slot = &candidate;
    if (!slot) return;
    char buffer[kRequestLimit + 1] = {};
    const std::size_t room =
        slot->requestDone ? kRequestLimit : kRequestLimit - slot->request.size();
    const int n = win::recv(s, buffer, static_cast<int>(room), 0);
    if (n <= 0) {
        const int error = win::WSAGetLastError();
        if (n < 0 && error == win::WSAEWOULDBLOCK) return;
        // A peer that has sent its whole request may close its sending side and
        // still wait for the file.
        if (n == 0 && slot->requestDone) return;
        reportCode(error);
        release(*slot);
        return;
    }
    if (slot->requestDone) return; // what follows the first line is not read
    const std::string received(buffer, ::strnlen(buffer, static_cast<std::size_t>(n)));
    model().setValue(RequestBox, text::cut(received, kLastRequestWidth));
    slot->request += received;
    // The first line is complete at its line end, at a zero byte, or when the
    // buffer is full; until then later segments continue it.
    const auto end = slot->request.find_first_of("\r\n");
    if (end == std::string::npos && received.size() == static_cast<std::size_t>(n) &&
        slot->request.size() < kRequestLimit)
        return;
    slot->request = slot->request.substr(0, end);
    slot->requestDone = true;
    m_log.addDirect(text::trimRight(slot->peer) + " accept #" + std::to_string(s) + " " +
                    text::trimRight(slot->request));
}

void WS_http_s::peerClosed(win::SOCKET s) {
    // A peer that closes before its first line is complete will never finish
    // it; one that closes after may still be reading the file.
    for (auto& slot : m_slots)
        if (slot.socket == s && !slot.requestDone) release(slot);
}

void WS_http_s::onTimer() {
    parseRequests();
    sendChunks();
}

void WS_http_s::parseRequests() {
    for (auto& slot : m_slots) {
        if (slot.socket == win::INVALID_SOCKET || slot.file >= 0) continue;
        if (!slot.requestDone) {
            // A peer that holds a slot without asking for anything would, ten
            // times over, shut every other client out.
            if (Clock::now() - slot.since >= kRequestWait) {
                m_log.addDirect(text::trimRight(slot.peer) + " no request in " +
                                std::to_string(kRequestWait.count()) + " s, closed");
                release(slot);
            }
            continue;
        }
        const auto path = http::requestedPath(slot.request);
        if (!path) {
            release(slot); // not GET, no version, or an empty first line
            continue;
        }
        const std::string lower = cp1250::toLower(*path);
        m_log.addDirect(lower + " #" + std::to_string(slot.socket));
        model().redraw();
        const std::string root = text::trimRight(rootDir());
        const std::string exact =
            http::servedFileName(root, http::servedPath(*path, defaultPage()));
        // The name as sent comes first; then the lower-cased one, as a server
        // whose names have no case would find it; then any spelling of it.
        // Missing, outside the served directory or not a plain file: the peer
        // gets nothing but the closed connection.
        slot.file = http::openServedFile(root, exact, false);
        if (slot.file < 0)
            slot.file = http::openServedFile(
                root, http::servedFileName(root, http::servedPath(lower, defaultPage())), false);
        if (slot.file < 0) slot.file = http::openServedFile(root, exact, true);
        if (slot.file < 0) {
            release(slot);
            continue;
        }
        slot.request.clear();
    }
}

void WS_http_s::sendChunks() {
    const std::uint16_t before = m_clientsServed;
    m_clientsServed = 0;
    for (auto& slot : m_slots) {
        if (slot.socket == win::INVALID_SOCKET || slot.file < 0) continue;
        ++m_clientsServed;
        sendChunk(slot);
    }
    if (m_clientsServed != before)
        model().setValue(ClientsDisplay, m_clientsServed ? std::to_string(m_clientsServed) : "");
}

void WS_http_s::sendChunk(ClientSlot& slot) {
    // What the peer did not take in an earlier pass goes first; the file is read
    // at most once a pass, so no peer gets more than one chunk a pass on the
    // whole, and a remainder costs it no pass.
    if (!slot.unsent.empty()) {
        if (Clock::now() - slot.since >= kStallLimit) {
            release(slot);
            return;
        }
        if (!sendUnsent(slot)) return;
    }
    char buffer[kChunk + 1];
    ssize_t n;
    do
        n = ::read(slot.file, buffer, kChunk);
    while (n < 0 && errno == EINTR);
    // The end of the file (nothing to send) or a failed read ends the reply.
    if (n <= 0) {
        release(slot);
        return;
    }
    slot.unsent.assign(buffer, static_cast<std::size_t>(n));
    slot.since = Clock::now();
    m_bytesSent = wrappingAdd(m_bytesSent, n);
    model().setHeading(
        LogList, 1, " Hit: " + std::to_string(m_hits) + "  sent: " + std::to_string(m_bytesSent));
    sendUnsent(slot);
}

bool WS_http_s::sendUnsent(ClientSlot& slot) {
    // A partial send is followed by the rest at once; what would block waits
    // for the next pass, so the window never spins on a slow peer.
    while (!slot.unsent.empty()) {
        const int n =
            win::send(slot.socket, slot.unsent.data(), static_cast<int>(slot.unsent.size()), 0);
        if (n > 0) {
            // The time stays that of the chunk's read: a chunk must go out whole
            // within the limit, so a peer taking a byte now and then cannot
            // hold its slot for ever.
            slot.unsent.erase(0, static_cast<std::size_t>(n));
            continue;
        }
        const int error = win::WSAGetLastError();
        if (error == win::WSAEWOULDBLOCK) return false;
        if (error == win::WSAECONNRESET) {
            release(slot);
            return false;
        }
        slot.unsent.clear(); // this chunk is lost; the next pass sends the following one
    }
    return true;
}

void WS_http_s::release(ClientSlot& slot) {
    if (slot.file >= 0) ::close(slot.file);
    // What the peer sent and we did not read would turn the close into a reset,
    // which can cost the peer the end of the file still on its way.
    char sink[4096];
    for (int i = 0; i < 16 && win::recv(slot.socket, sink, sizeof sink, 0) > 0; ++i) {
    }
    if (win::closesocket(slot.socket) != 0) report();
    slot = ClientSlot{};
}

void WS_http_s::onControl(int control) {
    switch (control) {
    case SelectDirButton:
        selectDirectory();
        break;
    case TestButton:
        startClient();
        break;
    case DelaySpin:
        applyDelay();
        break;
    }
}

void WS_http_s::applyDelay() {
    m_delay = static_cast<std::int16_t>(text::leadingInteger(model().value(DelaySpin)));
    setTimer(m_delay);
}

void WS_http_s::selectDirectory() {
    ui::FrontEnd* f = frontEnd();
    if (!f) return;
    std::string chosen = f->chooseDirectory(*this, "Select", text::trimRight(rootDir()));
    if (chosen.empty()) return;
    model().setValue(DirEntry, text::cut(chosen, kFieldWidth));
    model().setFocus(DirEntry);
    model().redraw();
}

void WS_http_s::startClient() {
    startProcedure("ws_HClient", {m_host.address, std::to_string(m_serverPort),
                                  text::pad(defaultPage(), kFieldWidth)});
    beep();
}

void WS_http_s::onClose() {
    for (auto& slot : m_slots) {
        if (slot.file >= 0) ::close(slot.file);
        if (slot.socket != win::INVALID_SOCKET) win::closesocket(slot.socket);
        slot = ClientSlot{};
    }
    status("closing socket...");
    if (win::closesocket(m_listen) != 0) report();
    m_listen = win::INVALID_SOCKET;
    if (m_listen6 != win::INVALID_SOCKET && win::closesocket(m_listen6) != 0)
        reportCode(win::WSAGetLastError(), " (IPv6)");
    m_listen6 = win::INVALID_SOCKET;
    // Nothing registered for this window may post to it once it is gone.
    win::WSADetachWindow(hwnd());
    m_log.clear();
    WriteSetting(kSection, "WShttpPath", text::trimRight(rootDir()), kSettingsFile);
    WriteSetting(kSection, "WShttpStr", text::trimRight(defaultPage()), kSettingsFile);
    WriteSetting(kSection, "WShttpDel", std::to_string(m_delay), kSettingsFile);
}

} // namespace tools
