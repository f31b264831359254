#include "tools/http/http_asy.h"

#include "platform/cp1250.h"
#include "platform/system.h"
#include "platform/text.h"
#include "settings/settingsfile.h"
#include "tools/http/http_asypath.h"
#include "tools/http/http_asytext.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tools {
namespace {

constexpr const char* kSettingsFile = ".\\TAVIK6.INI";
constexpr const char* kSection = "Tavik6 Settings";
constexpr std::size_t kUrlWidth = 128;
constexpr std::size_t kProxyWidth = 64;
constexpr std::size_t kLocalWidth = 253;
constexpr std::size_t kStatusWidth = 64;
constexpr std::size_t kHandleWidth = 10;
constexpr std::size_t kCodeWidth = 8;
constexpr std::size_t kMessageWidth = 40;
constexpr win::DWORD kOpenFlags = win::INTERNET_FLAG_ASYNC | win::INTERNET_FLAG_RELOAD |
                                  win::INTERNET_FLAG_NO_CACHE_WRITE; // 0x94000000
// A read that brings nothing for this long ends the transfer.
constexpr auto kReadLimit = std::chrono::seconds(20);
// After the root handle is closed the window waits this long, as it always has;
// the library has delivered every notification by then already.
constexpr auto kCloseWait = std::chrono::milliseconds(300);

// What the window's thread and the library's thread share. One window at a time
// exists, so this is process-wide, as its list is.
struct Shared {
    std::mutex mutex;
    tools::Http_asy* window = nullptr; // the open window, null when none
    std::uint8_t transferState = 0;
    win::HINTERNET urlHandle = nullptr;
    std::uint64_t generation = 0; // counts Go presses: an error event names its own
};

Shared& shared() {
    static Shared s;
    return s;
}

ui::ControlDef control(int number, ui::ControlKind kind, const char* label, int row, int column,
                       int columnSpan = 1) {
    ui::ControlDef c = ui::makeControl(number, kind, label, row, column);
    c.layout.columnSpan = columnSpan;
    return c;
}

std::string decimal(std::int64_t value) {
    return std::to_string(value);
}

} // namespace

Http_asy::Http_asy() : ToolWindow("Http_asy", makeDefinition()) {}

Http_asy::~Http_asy() {
    closeFile();
    Shared& s = shared();
    std::lock_guard lock(s.mutex);
    if (s.window == this) s.window = nullptr;
}

ui::WindowDefinition Http_asy::makeDefinition() {
    using K = ui::ControlKind;
    ui::WindowDefinition d;
    d.caption = "HTTP async.";
    d.description = "Async. Http get page";
    d.width = 320;
    d.height = 220;
    ui::ControlDef url = control(UrlEntry, K::Entry, "", 0, 1, 3);
    url.chars = static_cast<int>(kUrlWidth);
    ui::ControlDef proxy = control(ProxyEntry, K::Entry, "", 1, 1, 3);
    proxy.chars = static_cast<int>(kProxyWidth);
    proxy.enabled = false;
    ui::ControlDef local = control(LocalField, K::Display, "", 2, 1, 4);
    local.chars = static_cast<int>(kLocalWidth);
    ui::ControlDef transferred = control(TransferredField, K::Display, "", 3, 1);
    transferred.chars = 10;
    ui::ControlDef speed = control(SpeedField, K::Display, "", 3, 3);
    speed.chars = 8;
    ui::ControlDef status = control(StatusField, K::Display, "", 4, 0, 5);
    status.chars = 128;
    ui::ControlDef list = control(StatusList, K::List, "", -1, 0);
    list.columns = {ui::ColumnDef{50, " hInternet", static_cast<int>(kHandleWidth)},
                    ui::ColumnDef{36, " status", static_cast<int>(kCodeWidth)},
                    ui::ColumnDef{200, "", static_cast<int>(kMessageWidth)}};
    ui::ControlDef go = control(GoButton, K::Button, "Go", 0, 4);
    go.defaultButton = true;
    ui::ControlDef state = control(StateField, K::Display, "", 1, 4);
    state.chars = 2;
    d.controls = {
        control(UrlPrompt, K::Prompt, "URL:", 0, 0),
        url,
        control(ProxyBox, K::CheckBox, "Proxy:", 1, 0),
        proxy,
        control(LocalPrompt, K::Prompt, "Local:", 2, 0),
        local,
        control(TransferredPrompt, K::Prompt, "Transfered:", 3, 0),
        transferred,
        control(SpeedPrompt, K::Prompt, "K/s:", 3, 2),
        speed,
        status,
        list,
        go,
        state,
    };
    return d;
}

// --- one window at a time ------------------------------------------------------------

bool Http_asy::onStart() {
    Shared& s = shared();
    std::lock_guard lock(s.mutex);
    if (s.window) {
        // The open window is asked to the front; this one never opens.
        s.window->postUserEvent(FocusRequest);
        return false;
    }
    s.window = this;
    return true;
}

// --- opening and closing ----------------------------------------------------------------

void Http_asy::onOpen() {
    // The section counts only when its URL is there.
    const std::string url = ReadSetting(kSection, "HTTPurl", "", kSettingsFile);
    if (!url.empty()) {
        m_url = text::trimRight(text::cut(url, kUrlWidth));
        m_proxy = text::trimRight(
            text::cut(ReadSetting(kSection, "HTTPproxy", "", kSettingsFile), kProxyWidth));
        m_useProxy =
            text::leadingInteger(ReadSetting(kSection, "HTTPiproxy", "", kSettingsFile)) != 0;
    }
    model().setValue(UrlEntry, m_url);
    model().setValue(ProxyEntry, m_proxy);
    model().setChecked(ProxyBox, m_useProxy);
    model().setEnabled(ProxyEntry, m_useProxy);
    setTimer(100);
}

void Http_asy::onClose() {
    releaseRoot();
    model().clearList(StatusList);
    std::memset(m_readBuffer, 0, sizeof m_readBuffer);
    {
        std::lock_guard lock(shared().mutex);
        m_statusLine.clear();
    }
    takeFields();
    WriteSetting(kSection, "HTTPurl", text::trimRight(m_url), kSettingsFile);
    WriteSetting(kSection, "HTTPproxy", text::trimRight(m_proxy), kSettingsFile);
    WriteSetting(kSection, "HTTPiproxy", m_useProxy ? "1" : "0", kSettingsFile);
    // Only now, with no handle left to report on, may another window open.
    Shared& s = shared();
    std::lock_guard lock(s.mutex);
    if (s.window == this) s.window = nullptr;
}

void Http_asy::onControl(int control) {
    if (control == ProxyBox) {
        model().setEnabled(ProxyEntry, model().checked(ProxyBox));
        model().redraw();
    }
    if (control == GoButton) go();
}

void Http_asy::onUserEvent(int event, win::WPARAM wParam, win::LPARAM lParam) {
    if (event == FocusRequest) bringToFront();
    if (event == ErrorEvent) {
        {
            // An error of a transfer that a later Go has already replaced.
            std::lock_guard lock(shared().mutex);
            if (static_cast<std::uint64_t>(lParam) != shared().generation) return;
        }
        errorReport(static_cast<win::DWORD>(wParam));
        releaseRoot();
    }
}

void Http_asy::takeFields() {
    m_url = text::trimRight(text::cut(model().value(UrlEntry), kUrlWidth));
    m_useProxy = model().checked(ProxyBox);
    m_proxy = text::trimRight(text::cut(model().value(ProxyEntry), kProxyWidth));
}

// --- Go ------------------------------------------------------------------------------

void Http_asy::go() {
    takeFields();
    // A transfer still under way ends first, with what it has written kept.
    releaseRoot();
    const std::string here = win::currentDirectory();
    const DownloadTarget target = DownloadTargetFor(m_url, here);
    Shared& s = shared();
    {
        std::lock_guard lock(s.mutex);
        ++s.generation;
        setState(0);
        model().clearList(StatusList);
        m_statusLine.clear();
        model().setValue(StatusField, "");
    }
    if (target.refused) {
        // Its folders would leave the current directory: nothing is made or asked.
        errorReport(win::ERROR_INTERNET_INVALID_URL);
        return;
    }
    m_url = target.url;
    model().setValue(UrlEntry, m_url);

    static std::mt19937 random(std::random_device{}());
    const std::string agent =
        "HTTP_ " + std::to_string(std::uniform_int_distribution<int>(1, 10000)(random));
    m_root = m_useProxy ? win::InternetOpenA(agent.c_str(), win::INTERNET_OPEN_TYPE_PROXY,
                                             m_proxy.c_str(), nullptr, win::INTERNET_FLAG_ASYNC)
                        : win::InternetOpenA(agent.c_str(), win::INTERNET_OPEN_TYPE_DIRECT, nullptr,
                                             nullptr, win::INTERNET_FLAG_ASYNC);
    const win::DWORD rootError = m_root ? 0 : win::GetLastError();
    if (m_root) win::InternetSetStatusCallback(m_root, &Http_asy::statusCallback);

    for (const std::string& folder : target.folders)
        ::mkdir((here + "/" + folder).c_str(), 0777); // failures ignored
    m_localPath = text::cut(target.shownPath, kLocalWidth);
    m_filePath = target.filePath;
    m_transferred = 0;
    m_kiloPerSecond = 0;
    m_bytesRead = 0;
    std::memset(m_readBuffer, 0, sizeof m_readBuffer);
    model().setValue(LocalField, m_localPath);
    showTransfer();
    if (!m_root) {
        // Reported once the list is empty, so that it stays to be read.
        errorReport(rootError);
        return;
    }
    const win::HINTERNET file =
        win::InternetOpenUrlA(m_root, m_url.c_str(), nullptr, 0, kOpenFlags,
                              reinterpret_cast<win::DWORD_PTR>(&m_statusLine));
    if (file) {
        std::lock_guard lock(s.mutex);
        s.urlHandle = file;
    } else if (const win::DWORD error = win::GetLastError(); error != win::ERROR_IO_PENDING) {
        // Refused at once (a malformed URL, a scheme the library does not speak).
        errorReport(error);
        releaseRoot();
    }
    model().redraw();
}

// --- the library's notifications, on its thread ---------------------------------------

void Http_asy::statusCallback(win::HINTERNET handle, win::DWORD_PTR context, win::DWORD status,
                              void* information, win::DWORD length) {
    const std::string text =
        text::cut(text::trimRight(InternetStatusText(status, information, length)), kStatusWidth);
    Shared& s = shared();
    std::lock_guard lock(s.mutex);
    Http_asy* w = s.window;
    win::DWORD failed = 0;
    // Bytes arriving ("Response received.") move nothing: they may belong to no
    // read (they come with the headers, or before the window reads) and taken
    // as data they would skip the file's creation or write a block twice. A
    // read is done when the library completes it.
    if (w && status == win::INTERNET_STATUS_REQUEST_COMPLETE) {
        win::INTERNET_ASYNC_RESULT result{};
        if (information && length >= sizeof result)
            std::memcpy(&result, information, sizeof result);
        if (result.dwError != 0) {
            failed = result.dwError;
        } else if (s.transferState == 0 && result.dwResult != 0) {
            s.urlHandle = reinterpret_cast<win::HINTERNET>(result.dwResult);
            w->setState(1);
        } else if (s.transferState == 3) {
            // The issued read is done: its bytes are in the buffer, or none at
            // the end of the data.
            w->setState(4);
        }
    }
    if (context != 0) {
        auto* statusLine = reinterpret_cast<std::string*>(context);
        *statusLine = text;
        if (w) w->model().setValue(StatusField, text);
    }
    if (!w) return;
    w->model().appendRow(
        StatusList,
        {text::cut(std::to_string(reinterpret_cast<std::uintptr_t>(handle)), kHandleWidth),
         text::cut(std::to_string(status), kCodeWidth), text::cut(text, kMessageWidth)});
    if (failed) w->postUserEvent(ErrorEvent, failed, static_cast<win::LPARAM>(s.generation));
}

void Http_asy::setState(std::uint8_t state) {
    if (shared().transferState == state) return;
    shared().transferState = state;
    model().setValue(StateField, state ? std::to_string(state) : "");
}

// --- the timer ---------------------------------------------------------------------------

void Http_asy::onTimer() {
    Shared& s = shared();
    std::uint8_t state = 0;
    win::HINTERNET opened = nullptr;
    {
        std::lock_guard lock(s.mutex);
        state = s.transferState;
        if (state == 3 && Clock::now() - m_readStart >= kReadLimit) {
            // Nothing came for the read: the transfer ends with what it has.
            setState(5);
            return;
        }
        if (state == 1) {
            m_file = ::open(m_filePath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            m_transferStart = Clock::now();
            setState(2);
            opened = s.urlHandle;
        }
    }
    if (opened) {
        // The body is kept as the library hands it over, but an error page
        // must not pass for the page: its status is listed as an error.
        win::DWORD status = 0, length = sizeof status;
        if (win::HttpQueryInfoA(opened, win::HTTP_QUERY_STATUS_CODE | win::HTTP_QUERY_FLAG_NUMBER,
                                &status, &length, nullptr) &&
            (status < 200 || status > 299))
            errorReport(status);
        return;
    }
    if (state == 2) readBlock();
    if (state == 4) writeBlock();
    if (state == 5) finish();
}

void Http_asy::readBlock() {
    Shared& s = shared();
    win::HINTERNET file = nullptr;
    std::memset(m_readBuffer, 0, sizeof m_readBuffer);
    m_bytesRead = 0;
    {
        std::lock_guard lock(s.mutex);
        file = s.urlHandle;
        m_readStart = Clock::now();
        setState(3);
    }
    const bool done = win::InternetReadFile(file, m_readBuffer, BlockSize, &m_bytesRead);
    const win::DWORD error = done ? 0 : win::GetLastError();
    if (!done && error == win::ERROR_IO_PENDING) return; // the callback says when it is done
    // The read failed outright (the connection broke while no read waited):
    // the error is listed, what was written stays, and the transfer ends.
    if (!done) errorReport(error);
    std::lock_guard lock(s.mutex);
    if (s.transferState != 3) return;
    // Done at once: the bytes are there, or none at the end of the data.
    setState(done && m_bytesRead ? 4 : 5);
}

void Http_asy::writeBlock() {
    m_transferred += m_bytesRead;
    showTransfer();
    if (m_file >= 0) {
        for (win::DWORD done = 0; done < m_bytesRead;) {
            const ssize_t n = ::write(m_file, m_readBuffer + done, m_bytesRead - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break; // a full disk loses the block silently, as a failed write did
            done += static_cast<win::DWORD>(n);
        }
    }
    std::lock_guard lock(shared().mutex);
    // After a read that completed with no bytes (the end of the data) the next
    // read says so at once.
    if (shared().transferState == 4) setState(2);
}

void Http_asy::finish() {
    Shared& s = shared();
    win::HINTERNET file = nullptr;
    {
        std::lock_guard lock(s.mutex);
        file = s.urlHandle;
        s.urlHandle = nullptr;
    }
    // A read may still be waiting (the 20 s limit): closing its handle ends it, so
    // nothing writes into the buffer once its last bytes are taken below.
    if (file) win::InternetCloseHandle(file);
    if (m_bytesRead != 0) writeBlock();
    showTransfer();
    model().redraw();
    releaseRoot();
}

void Http_asy::releaseRoot() {
    closeFile();
    {
        std::lock_guard lock(shared().mutex);
        setState(0);
    }
    if (m_root) {
        win::InternetCloseHandle(m_root);
        std::this_thread::sleep_for(kCloseWait);
    }
    m_root = nullptr;
    std::lock_guard lock(shared().mutex);
    shared().urlHandle = nullptr;
}

void Http_asy::closeFile() {
    if (m_file >= 0) ::close(m_file);
    m_file = -1;
}

void Http_asy::showTransfer() {
    const auto hundredths =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_transferStart)
            .count() /
        10;
    // Kilobytes of 1000 bytes per second.
    m_kiloPerSecond =
        m_transferred ? static_cast<double>(m_transferred) / std::max<long long>(hundredths, 1) / 10
                      : 0;
    char speed[32];
    std::snprintf(speed, sizeof speed, "%.1f", m_kiloPerSecond);
    model().setValue(TransferredField, m_transferred ? decimal(m_transferred) : "");
    model().setValue(SpeedField, speed);
    model().redraw();
}

void Http_asy::errorReport(win::DWORD error) {
    if (error == 0) return;
    model().appendRow(StatusList,
                      {"ERROR:", std::to_string(error), cp1250::toLower(InternetErrorName(error))});
    model().redraw();
}

} // namespace tools
