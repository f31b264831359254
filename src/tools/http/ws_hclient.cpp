#include "tools/http/ws_hclient.h"

#include "net/ipv6server.h"
#include "net/localhost.h"
#include "net/socketeventhook.h"
#include "net/winsockerror.h"
#include "platform/system.h"
#include "platform/text.h"
#include "settings/settingsfile.h"
#include "tools/http/fetchrules.h"
#include "tools/http/nocasepath.h"
#include "tools/http/rulefile.h"
#include "tools/plain/porttext.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace tools {
namespace {

constexpr const char* kSection = "Client Settings";
constexpr std::size_t kStatusWidth = 40;
constexpr std::size_t kServerWidth = 127;
constexpr std::size_t kPageWidth = 128;

ui::ControlDef control(int number, ui::ControlKind kind, const char* label, int row, int column,
                       const char* toolTip = "") {
    ui::ControlDef c = ui::makeControl(number, kind, label, row, column);
    c.toolTip = toolTip;
    return c;
}

bool nonEmptyFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

} // namespace

ws_HClient::ws_HClient()
    : ToolWindow("ws_HClient", makeDefinition()),
      m_log(model(), LogList, 80, net::EventLog::Limit::EmptyBefore250, true) {}

ws_HClient::~ws_HClient() {
    if (m_localFile >= 0) ::close(m_localFile);
}

void ws_HClient::setBounds(const Bounds& bounds) {
    m_response.setStoredLimit(bounds.storedPage);
    m_queue.setLimit(bounds.queue);
    m_connectWait = bounds.connect;
}

ui::WindowDefinition ws_HClient::makeDefinition() {
    using K = ui::ControlKind;
    ui::WindowDefinition d;
    d.caption = "WS HTTP client";
    d.width = 330;
    d.height = 260;
    ui::ControlDef server = control(ServerEntry, K::Entry, "", 0, 1);
    server.chars = kServerWidth;
    server.layout.columnSpan = 2;
    ui::ControlDef port = control(PortEntry, K::Entry, "", 0, 4);
    port.chars = 6;
    port.picture = "999999";
    ui::ControlDef page = control(PageEntry, K::Entry, "", 1, 1);
    page.chars = kPageWidth;
    page.layout.columnSpan = 2;
    ui::ControlDef go = control(GoButton, K::Button, "Go", 1, 4);
    go.defaultButton = true;
    ui::ControlDef ip = control(ClientIpField, K::Display, "", 3, 1);
    ip.chars = 20;
    ui::ControlDef name = control(ClientNameField, K::Display, "", 3, 3);
    name.chars = 60;
    name.layout.columnSpan = 2;
    ui::ControlDef local = control(LocalField, K::Display, "", 4, 1);
    local.chars = 254;
    local.layout.columnSpan = 4;
    ui::ControlDef events = control(LogList, K::List, "", -1, 0);
    events.columns = {ui::ColumnDef{76, " Time", 20}, ui::ColumnDef{200, " Event", 80}};
    ui::ControlDef queue = control(QueueList, K::List, "", 6, 0);
    queue.columns = {ui::ColumnDef{200, " Download Q", 128}};
    queue.layout.columnSpan = 3;
    ui::ControlDef frame = control(PictureFrame, K::Group, "", 6, 3);
    frame.layout.columnSpan = 2;
    ui::ControlDef picture = control(PictureArea, K::Picture, "", 6, 3);
    picture.layout.columnSpan = 2;
    ui::ControlDef shown = control(PictureName, K::Display, "", 7, 3);
    shown.chars = 40;
    shown.layout.columnSpan = 2;
    d.controls = {
        control(ServerPrompt, K::Prompt, "Server IP/Name:", 0, 0),
        server,
        control(PortPrompt, K::Prompt, "Port:", 0, 3),
        port,
        control(PagePrompt, K::Prompt, "Page, etc..:", 1, 0),
        page,
        go,
        control(ParseButton, K::Button, "Parse", 2, 0, "Edit parse\ntags"),
        control(OmitButton, K::Button, "Omit", 2, 1, "Edit omit\nstrings"),
        control(WriteOverBox, K::CheckBox, "write over", 2, 2, "Force write over\nexisting files"),
        control(ForceParseBox, K::CheckBox, "force parse", 2, 3, "Force parseing\nif file exists"),
        control(OffSiteBox, K::CheckBox, "off site", 2, 4, "Get offsite\npictures"),
        control(ClientIpPrompt, K::Prompt, "Client IP:", 3, 0),
        ip,
        control(ClientNamePrompt, K::Prompt, "Client name:", 3, 2),
        name,
        control(LocalPrompt, K::Prompt, "Local:", 4, 0, "..."),
        local,
        events,
        queue,
        frame,
        picture,
        shown,
    };
    return d;
}

// --- window open and close --------------------------------------------------------

void ws_HClient::onOpen() {
    loadRuleFiles();
    readSettings();
    if (!text::trimRight(argument(0)).empty())
        m_targetServer = text::cut(text::trimRight(argument(0)), kServerWidth);
    if (!argument(1).empty())
        if (const auto port = portNumber(argument(1))) m_targetPort = *port;
    if (!argument(2).empty()) m_pagePath = text::cut(argument(2), kPageWidth);
    model().setValue(ServerEntry, m_targetServer);
    model().setValue(PortEntry, std::to_string(m_targetPort));
    model().setValue(PageEntry, text::trimRight(m_pagePath));
    model().setValue(LocalField, "index.htm"); // LocalPath before the first fetch
    installHook(std::make_shared<net::SocketEventHook>(net::SocketEventHook::Variant::Client));
    net::EnsureSockets(*this, net::ReportVariant::LogAndSound, &m_log);
    readLocalHost();
    model().redraw();
    setTimer(33);
    // Started on a server, the window fetches at once, as Enter on its default
    // button would.
    if (!text::trimRight(argument(0)).empty()) postControl(GoButton);
}

void ws_HClient::loadRuleFiles() {
    const std::string dir = win::currentDirectory();
    const auto tags = http::rulefile::readFile(dir + "/Varlo.stp");
    if (!tags)
        messageBox("Kreiraj File: Varlo.stp  u kojem se|nalaze uvjeti za Parse-ing.||HREF=|SRC=|"
                   "etc.. max 40 bytes");
    m_parseTags = http::rulefile::load(tags.value_or(""), http::rulefile::TagWidth);
    if (m_parseTags.empty())
        messageBox("U File-u Varlo.stp, upi\x9Ai|uvjete za Parse-ing., npr.||HREF=|SRC=|etc..");
    const auto omit = http::rulefile::readFile(dir + "/Varlo.omt");
    m_omitStrings = http::rulefile::load(omit.value_or(""), http::rulefile::OmitWidth);
}

void ws_HClient::readSettings() {
    if (text::trimRight(ReadSetting(kSection, "HTCPClientIP", "")).empty()) return;
    const auto flag = [](const char* key) {
        return text::leadingInteger(ReadSetting(kSection, key, "")) != 0;
    };
    m_targetServer =
        text::cut(text::trimRight(ReadSetting(kSection, "HTCPClientIP", "")), kServerWidth);
    m_targetPort = portNumber(ReadSetting(kSection, "HTCPPort", "")).value_or(0);
    model().setChecked(WriteOverBox, flag("HTCPforce"));
    model().setChecked(ForceParseBox, flag("HTCPfParse"));
    model().setChecked(OffSiteBox, flag("HTCPoffsite"));
    m_pagePath = text::cut(ReadSetting(kSection, "HTCPsend", ""), kPageWidth);
}

void ws_HClient::readLocalHost() {
    char name[256] = {};
    if (win::gethostname(name, sizeof name) != 0) {
        report();
        return;
    }
    // The local address is left as the resolved one; LastServer stays empty, so
    // the first fetch looks the server up anew.
    if (const win::hostent* h = win::gethostbyname(name); h && h->h_addr_list && h->h_addr_list[0])
        m_resolvedIp = win::inet_ntoa(*reinterpret_cast<const win::in_addr*>(h->h_addr_list[0]));
    model().setValue(ClientIpField, text::cut(m_resolvedIp, 20));
    model().setValue(ClientNameField, text::cut(name, 60));
}

void ws_HClient::onClose() {
    stopParse();
    abandonUnfinished();
    log("Closing Socket..");
    win::closesocket(m_socket);
    m_socket = win::INVALID_SOCKET;
    win::WSADetachWindow(hwnd());
    m_log.clear();
    model().clearList(QueueList);
    m_queue.clear();
    m_parseTags.clear();
    m_omitStrings.clear();
    WriteSetting(kSection, "HTCPClientIP", text::trimRight(m_targetServer));
    WriteSetting(kSection, "HTCPPort", std::to_string(m_targetPort));
    WriteSetting(kSection, "HTCPforce", model().checked(WriteOverBox) ? "1" : "0");
    WriteSetting(kSection, "HTCPfParse", model().checked(ForceParseBox) ? "1" : "0");
    WriteSetting(kSection, "HTCPsend", text::trimRight(m_pagePath));
    WriteSetting(kSection, "HTCPoffsite", model().checked(OffSiteBox) ? "1" : "0");
}

// --- controls -----------------------------------------------------------------------

void ws_HClient::onControl(int control) {
    switch (control) {
    case GoButton:
        go();
        break;
    case ParseButton:
        editRuleFile("Varlo.stp");
        break;
    case OmitButton:
        editRuleFile("Varlo.omt");
        break;
    }
}

void ws_HClient::editRuleFile(const char* name) {
    beep();
    if (!win::startEditor(win::currentDirectory() + "/" + name))
        log(std::string("No editor to open ") + name);
}

void ws_HClient::takeFields() {
    m_targetServer = text::cut(model().value(ServerEntry), kServerWidth);
    if (const auto port = portNumber(model().value(PortEntry))) m_targetPort = *port;
    m_pagePath = text::cut(model().value(PageEntry), kPageWidth);
}

void ws_HClient::go() {
    takeFields();
    m_goTime = Clock::now();
    m_fetchedSinceGo = false;
    m_fetched.clear();
    fetchPath(m_pagePath);
}

// --- the fetch ----------------------------------------------------------------------

void ws_HClient::log(const std::string& line) {
    m_log.add(text::cut(line, kStatusWidth));
}

void ws_HClient::report() {
    net::ReportWinsockError(*this, net::ReportVariant::LogAndSound, &m_log);
    m_fetchBusy = false;
}

void ws_HClient::abandonUnfinished() {
    // A file still being received is incomplete: kept, it would later count as
    // fetched and be skipped.
    if (m_localFile < 0) return;
    ::close(m_localFile);
    m_localFile = -1;
    ::unlink(m_localPath.c_str());
}

void ws_HClient::dropFetch(const std::string& line) {
    // The file goes first: whoever reads the line finds it gone.
    abandonUnfinished();
    if (!line.empty()) m_log.add(text::cut(line, m_log.width()));
    win::closesocket(m_socket);
    m_socket = win::INVALID_SOCKET;
    m_response.reset();
    m_fetchBusy = false;
    showQueue();
}

std::string ws_HClient::faultLine() const {
    // An error page is told by its status line alone.
    if (m_response.fault() == http::ResponseReader::Fault::Status) return m_response.faultText();
    return "Drop: " + m_fetchPath + " (" + m_response.faultText() + ")";
}

void ws_HClient::fetchPath(const std::string& requested) {
    const std::string path = text::trimRight(requested);
    m_fetchBusy = true;
    log("...");
    stopParse();
    abandonUnfinished();
    win::closesocket(m_socket);
    m_socket = win::INVALID_SOCKET;

    m_fetchPath = path.empty() ? "index.htm" : path;
    // An IPv6 address is written in brackets, in the folder's name as in the
    // Host line.
    const std::string server = http::bracketedServer(text::trimRight(m_targetServer));
    // The server's name becomes a folder name: nothing else may.
    if (!http::isPlainHostName(server)) {
        log("Drop server: " + server);
        m_fetchBusy = false;
        return;
    }
    // "host:port" (an off-site link's server) is fetched from that port; the
    // folder keeps the whole name.
    const http::HostPort hostPort = http::splitHostPort(server);
    if (!resolveServer(server, hostPort.host)) return;
    const std::uint16_t port = hostPort.port.value_or(m_targetPort);
    m_pageDir = http::DirectoryPart(path);
    m_pageFile = http::FileNamePart(path);
    if (!http::staysInside(m_pageDir + m_pageFile)) {
        log("Drop: " + path);
        m_fetchBusy = false;
        return;
    }
    m_localPath = prepareLocalPath(server);
    model().setValue(LocalField, m_localPath);
    model().setToolTip(LocalField, m_localPath);

    // A page fetched in this run is not fetched again, "write over" or not:
    // two pages linking each other would otherwise be fetched for ever.
    const bool again = m_fetchedSinceGo && m_fetched.count(m_localPath) != 0;
    const bool fetch = !again && http::shouldFetch(nonEmptyFile(m_localPath), !m_fetchedSinceGo,
                                                   model().checked(WriteOverBox));
    m_fetchedSinceGo = true;
    if (!fetch) {
        log("Skip: " + path);
        if (model().checked(ForceParseBox))
            CompleteFetch();
        else
            m_fetchBusy = false;
        return;
    }
    if (m_fetched.size() < http::DownloadQueue::kLimit) m_fetched.insert(m_localPath);
    connectAndSend(http::requestText(path, m_resolvedIp, port), port);
}

bool ws_HClient::resolveServer(const std::string& server, const std::string& host) {
    if (server == m_lastServer) return true;
    m_lastServer = server;
    // Looked at before the dots: "[::ffff:10.0.0.1]" has three of them.
    if (http::isBracketedIpv6(host) || http::isDottedAddress(host)) {
        m_resolvedIp = host;
        return true;
    }
    log("IP..");
    const win::hostent* h = win::gethostbyname(host.c_str());
    if (!h || !h->h_addr_list || !h->h_addr_list[0]) {
        // A name with IPv6 addresses only is fetched from the first of them; any
        // other name fails with the error of its IPv4 look-up, as it always has.
        const int error = win::WSAGetLastError();
        if (const net::SocketAddress v6 = net::ipv6Server(host, 0); v6.valid()) {
            m_resolvedIp = "[" + v6.hostText() + "]";
            log("IP: " + m_resolvedIp);
            return true;
        }
        win::WSASetLastError(error);
        // Fetching from the address of the server before would fetch the wrong
        // site: the failure is told and the next fetch looks the name up again.
        if (win::WSAGetLastError() == 0) win::WSASetLastError(win::WSAHOST_NOT_FOUND);
        m_lastServer.clear();
        report();
        return false;
    }
    m_resolvedIp = win::inet_ntoa(*reinterpret_cast<const win::in_addr*>(h->h_addr_list[0]));
    log("IP: " + m_resolvedIp);
    return true;
}

std::string ws_HClient::prepareLocalPath(const std::string& server) {
    if (m_pageFile.empty()) m_pageFile = "index.htm";
    const std::string base = win::currentDirectory();
    // Backslashes separate folders on the system the paths were written for,
    // in the file name as well as in the page's folder.
    const std::string relative =
        server + "/" + http::printableName(http::diskPath(m_pageDir + m_pageFile));
    // Each folder from the left, found without case as Windows would find it;
    // a folder that exists already is no failure.
    for (std::size_t slash = relative.find('/'); slash != std::string::npos;
         slash = relative.find('/', slash + 1))
        ::mkdir(http::matchNoCase(base, relative.substr(0, slash)).c_str(), 0777);
    // The page itself keeps its name: "faq.html" beside "FAQ.html" is another page.
    const std::size_t last = relative.rfind('/');
    return http::matchNoCase(base, relative.substr(0, last)) + relative.substr(last);
}

bool ws_HClient::connectAndSend(const std::string& request, std::uint16_t port) {
    // ResolvedIp is a dotted address, or an IPv6 one in brackets.
    const int family = m_resolvedIp.starts_with('[') ? AF_INET6 : AF_INET;
    log("Creating Socket..");
    m_socket = win::socket(family, SOCK_STREAM, 0);
    if (m_socket == win::INVALID_SOCKET) {
        report();
        return false;
    }
    model().setCaption("HTTP Client TCP Socket #" + std::to_string(m_socket));
    log("Creating Socket..");
    log("Binding Socket..");
    const net::SocketAddress local = net::SocketAddress::any(family, 0);
    if (win::bind(m_socket, local.data(), local.size()) != 0) {
        report();
        return false;
    }
    log("Connecting...");
    const net::SocketAddress address =
        family == AF_INET6 ? net::SocketAddress::fromText(m_resolvedIp, port)
                           : net::SocketAddress::v4(win::inet_addr(m_resolvedIp.c_str()), port);
    // The socket is still blocking: the window waits here for the outcome, at
    // most m_connectWait (the wait honours the socket's send time-out).
    const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(m_connectWait);
    const timeval limit{static_cast<time_t>(wait.count() / 1000000),
                        static_cast<suseconds_t>(wait.count() % 1000000)};
    ::setsockopt(static_cast<int>(m_socket), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (win::connect(m_socket, address.data(), address.size()) != 0) {
        report();
        return false;
    }
    log("Connected.");
    m_response.reset();
    m_localFile = ::open(m_localPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_localFile < 0) {
        // A folder of that name (a page "a" after "a/b.htm"), no descriptor
        // left, a full disk: nothing could be stored, and that is said.
        dropFetch("Drop: " + m_fetchPath + " (" + std::strerror(errno) + ")");
        return false;
    }
    if (win::WSAAsyncSelect(m_socket, hwnd(), net::SocketNotifyMessage,
                            win::FD_READ | win::FD_WRITE | win::FD_CLOSE) != 0) {
        report();
        return false;
    }
    log("Out: " + request);
    if (win::send(m_socket, request.data(), static_cast<int>(request.size()), 0) ==
        win::SOCKET_ERROR)
        report();
    return true;
}

} // namespace tools
