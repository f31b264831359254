// The second half of the raw HTTP client: the response, the stored file, the
// parser and the queue timer.
#include "tools/http/ws_hclient.h"

#include "net/soundcue.h"
#include "platform/cp1250.h"
#include "platform/text.h"
#include "tools/http/fetchrules.h"
#include "tools/http/linkextractor.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tools {
namespace {

// A 32-bit count that wraps as it did where it was born.
std::int32_t wrappingAdd(std::int32_t a, int b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

} // namespace

void ws_HClient::onUserEvent(int event, win::WPARAM wParam, win::LPARAM) {
    // Connect and write notifications change nothing.
    const auto s = static_cast<win::SOCKET>(wParam);
    if (event == 1026) onRead(s);
    if (event == 1027) onPeerClosed(s);
    if (event == kParseMore) parseNextBlock();
}

void ws_HClient::store(std::string_view bytes) {
    // Writes go only to an open file; a failing write is not reported.
    for (std::size_t done = 0; m_localFile >= 0 && done < bytes.size();) {
        const ssize_t n = ::write(m_localFile, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
}

bool ws_HClient::receiveBlock() {
    char buffer[kBlock];
    const int n = win::recv(m_socket, buffer, static_cast<int>(kBlock), 0);
    if (n <= 0) return false;
    m_totalReceived = wrappingAdd(m_totalReceived, n);
    m_response.feed(std::string_view(buffer, static_cast<std::size_t>(n)),
                    [this](std::string_view bytes) { store(bytes); });
    m_log.addDirect(std::string(m_response.kindText()) + " In: " + std::to_string(n) + " bytes");
    model().setHeading(LogList, 1, " Event, recieved:" + std::to_string(m_totalReceived));
    model().redraw();
    if (m_response.fault() != http::ResponseReader::Fault::None) {
        dropFetch(faultLine());
        return false;
    }
    return true;
}

void ws_HClient::onRead(win::SOCKET s) {
    if (s != m_socket) return; // a connection given up for a newer fetch
    if (receiveBlock() || m_socket == win::INVALID_SOCKET) return;
    const int error = win::WSAGetLastError();
    if (error == win::WSAEWOULDBLOCK) return;
    report();
    // A reset in the middle of the body: what came is not the page.
    if (error != 0) dropFetch("");
}

void ws_HClient::onPeerClosed(win::SOCKET s) {
    if (s != m_socket) return;
    // What arrived together with the close is read before the file is closed.
    for (int blocks = 0; blocks < 1000 && receiveBlock(); ++blocks) {
    }
    if (m_socket == win::INVALID_SOCKET) return; // dropped on the way
    m_response.finish([this](std::string_view bytes) { store(bytes); });
    if (m_response.fault() != http::ResponseReader::Fault::None) {
        dropFetch(faultLine());
        return;
    }
    closeLocalFile();
    log("closed.");
    CompleteFetch();
    showQueue();
}

void ws_HClient::closeLocalFile() {
    if (m_localFile >= 0) ::close(m_localFile);
    m_localFile = -1;
}

void ws_HClient::CompleteFetch() {
    if (http::isPicture(m_localPath)) {
        model().setValue(PictureArea, m_localPath);
        model().setValue(PictureName, text::cut(m_pageFile, 40));
        model().redraw();
        m_fetchBusy = false;
        return;
    }
    log("Parse..");
    net::PlayCue(*this, "Click.wav");
    startParse();
}

void ws_HClient::startParse() {
    stopParse();
    m_parseFile = ::open(m_localPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_parseFile < 0) {
        // A file that is gone is skipped silently; one that cannot be opened
        // for want of descriptors is said.
        if (errno == EMFILE || errno == ENFILE) log(std::string("Parse: ") + std::strerror(errno));
        m_fetchBusy = false;
        return;
    }
    m_extractor = std::make_unique<http::LinkExtractor>(m_parseTags);
    postUserEvent(kParseMore);
}

void ws_HClient::stopParse() {
    if (m_parseFile >= 0) ::close(m_parseFile);
    m_parseFile = -1;
    m_extractor.reset();
}

void ws_HClient::parseNextBlock() {
    if (m_parseFile < 0 || !m_extractor) return; // given up for a newer fetch
    const std::string server = text::trimRight(m_targetServer);
    auto offer = [&](const std::string& link) {
        const std::string url = http::resolveLink(link, server, m_pageDir);
        if (m_queue.offer(url, m_omitStrings)) model().appendRow(QueueList, {url});
    };
    char buffer[kBlock];
    ssize_t n;
    do
        n = ::read(m_parseFile, buffer, sizeof buffer);
    while (n < 0 && errno == EINTR);
    if (n > 0) {
        m_extractor->feed(std::string_view(buffer, static_cast<std::size_t>(n)), offer);
        postUserEvent(kParseMore);
        return;
    }
    m_extractor->finish(offer);
    stopParse();
    if (const std::size_t refused = m_queue.takeRefused())
        log("Queue full: " + std::to_string(refused) + " links dropped");
    model().redraw();
    m_fetchBusy = false;
}

void ws_HClient::showQueue() {
    // Four positions at least, blank when the queue is empty.
    char count[24] = "    ";
    if (!m_queue.empty()) std::snprintf(count, sizeof count, "%4zu", m_queue.size());
    model().setHeading(QueueList, 0, std::string(" Download Q - ") + count);
}

void ws_HClient::showElapsed() {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - m_goTime).count();
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%02lld:%02lld:%02lld",
                  static_cast<long long>(seconds / 3600 % 24),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    model().setHeading(LogList, 0, std::string(" Time ") + elapsed);
}

void ws_HClient::onTimer() {
    if (m_fetchBusy) return;
    m_fetchBusy = true;
    if (m_queue.empty()) return; // stays busy until the next fetch ends
    const auto link = m_queue.take();
    std::vector<ui::Row> rows;
    for (const auto& url : m_queue.urls())
        rows.push_back({url});
    model().setRows(QueueList, std::move(rows));
    showQueue();
    showElapsed();
    const std::string upper = cp1250::toUpper(link->url);
    if (upper.find("HTTP://") != std::string::npos || upper.find("HTTPS://") != std::string::npos) {
        takeOffSiteLink(link->url);
        return;
    }
    model().redraw();
    fetchPath(link->url);
}

void ws_HClient::takeOffSiteLink(const std::string& url) {
    if (!model().checked(OffSiteBox)) {
        m_fetchBusy = false; // dropped without a fetch
        return;
    }
    const http::OffSiteTarget target = http::offSiteTarget(url);
    // The other site's name becomes a folder beside this one's: only a plain
    // host name may.
    if (!http::isPlainHostName(target.server)) {
        log("Drop server: " + target.server);
        m_fetchBusy = false;
        return;
    }
    model().setValue(ServerEntry, target.server);
    model().setValue(PageEntry, target.page);
    model().redraw();
    go();
}

} // namespace tools
