#pragma once
#include "net/eventlog.h"
#include "net/localhost.h"
#include "platform/winsock.h"
#include "ui/toolwindow.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace tools {

// The HTTP server: serves the files of one directory, one chunk of at most
// 10,240 bytes per connection each pass of the window timer, so "Delay:" sets
// its speed. The reply is the file's bytes alone, with no status line. Up to ten
// connections are served at once.
class WS_http_s : public ui::ToolWindow {
public:
    enum Control {
        DirPrompt = 1,
        SelectDirButton,
        DirEntry,
        PagePrompt,
        PageEntry,
        TestButton,
        DelayPrompt,
        DelaySpin,
        ClientsPrompt,
        ClientsDisplay,
        LogList,
        RequestBox
    };
    static constexpr int kSlots = 10;
    static constexpr std::size_t kChunk = 10240;
    static constexpr std::size_t kRequestLimit = 2048;
    // A connection whose chunk has not gone out whole within this time of its
    // read is dropped.
    static constexpr std::chrono::seconds kStallLimit{200};
    // A connection whose request line has not come within this time of its
    // accept is closed, and its slot freed.
    static constexpr std::chrono::seconds kRequestWait{10};

    WS_http_s();
    ~WS_http_s() override;
    static ui::WindowDefinition makeDefinition();

protected:
    void onOpen() override;
    void onClose() override;
    void onControl(int control) override;
    void onTimer() override;
    void onUserEvent(int event, win::WPARAM wParam, win::LPARAM lParam) override;

private:
    using Clock = std::chrono::steady_clock;
    struct ClientSlot {
        win::SOCKET socket = win::INVALID_SOCKET;
        int file = -1;
        std::string request; // the request's first line, once it is complete
        bool requestDone = false;
        std::string peer;        // "a.b.c.d:port", "[v6]:port"
        std::string unsent;      // the rest of the chunk the peer has not taken yet
        Clock::time_point since; // accepted, or the chunk being sent read
    };
    class DelayWatcher;

    void status(const std::string& text);
    void report();
    void reportCode(int code, const std::string& after = {});
    void showCaption(bool retried);
    void openListener();
    void bindWithRetries();
    void openIpv6();
    void acceptClient(win::SOCKET notified);
    void readRequest(win::SOCKET s);
    void peerClosed(win::SOCKET s);
    void parseRequests();
    void sendChunks();
    void sendChunk(ClientSlot& slot);
    // False when something is left for the next pass or the slot was released.
    bool sendUnsent(ClientSlot& slot);
    void release(ClientSlot& slot);
    void selectDirectory();
    void startClient();
    void applyDelay();
    // RootDir and DefaultPage, bound to their entries.
    std::string rootDir();
    std::string defaultPage();

    net::EventLog m_log;
    net::LocalHost m_host;
    std::unique_ptr<DelayWatcher> m_watcher;
    std::uint16_t m_serverPort = 8088;
    std::int16_t m_delay = 10;
    win::SOCKET m_listen = win::INVALID_SOCKET;
    win::SOCKET m_listen6 = win::INVALID_SOCKET; // its IPv6 twin, when it could be opened
    std::array<ClientSlot, kSlots> m_slots;
    int m_nextSlot = 0; // the slot used last, 1 to 10
    std::int32_t m_hits = 0;
    std::int32_t m_bytesSent = 0;
    std::uint16_t m_clientsServed = 0;
};

} // namespace tools
