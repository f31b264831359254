#pragma once
#include "net/eventlog.h"
#include "platform/winsock.h"
#include "tools/http/downloadqueue.h"
#include "tools/http/linkextractor.h"
#include "tools/http/responsereader.h"
#include "ui/toolwindow.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace tools {

// The raw HTTP client: fetches a page with a GET request it writes itself,
// stores it beneath the current directory in a folder named after the server,
// finds its links under the parse tags and walks them one fetch at a time
// through its download queue, so a small part of a site is mirrored on disk.
class ws_HClient : public ui::ToolWindow {
public:
    enum Control {
        ServerPrompt = 1,
        ServerEntry,
        PortPrompt,
        PortEntry,
        PagePrompt,
        PageEntry,
        GoButton,
        ParseButton,
        OmitButton,
        WriteOverBox,
        ForceParseBox,
        OffSiteBox,
        ClientIpPrompt,
        ClientIpField,
        ClientNamePrompt,
        ClientNameField,
        LocalPrompt,
        LocalField,
        LogList,
        QueueList,
        PictureFrame,
        PictureArea,
        PictureName
    };
    static constexpr std::size_t kBlock = 10240;
    // Posted to itself to parse the next block of a stored page.
    static constexpr int kParseMore = 1200;

    // A blocking connect gives up after this long: a server that never accepts
    // must not hold the window, nor a page chain such servers.
    static constexpr std::chrono::seconds kConnectWait{20};

    // What one server may take of this machine: the disk for a page, the memory
    // for the queue, the window's time for a connect. Tests lower them to reach
    // them quickly.
    struct Bounds {
        std::uint64_t storedPage = http::ResponseReader::kStoredLimit;
        std::size_t queue = http::DownloadQueue::kLimit;
        std::chrono::milliseconds connect = kConnectWait;
    };
    void setBounds(const Bounds& bounds);

    ws_HClient();
    ~ws_HClient() override;
    static ui::WindowDefinition makeDefinition();

protected:
    void onOpen() override;
    void onClose() override;
    void onControl(int control) override;
    void onTimer() override;
    void onUserEvent(int event, win::WPARAM wParam, win::LPARAM lParam) override;

private:
    using Clock = std::chrono::steady_clock;

    // --- connection and request ---
    void loadRuleFiles();
    void readSettings();
    void readLocalHost();
    void takeFields();
    void go();
    // FetchPath: fetches `path` from TargetServer and TargetPort.
    void fetchPath(const std::string& path);
    // `server` as typed is what LastServer compares; `host` is looked up.
    bool resolveServer(const std::string& server, const std::string& host);
    // The folders of the page's path beneath the server's folder; its local path.
    std::string prepareLocalPath(const std::string& server);
    bool connectAndSend(const std::string& request, std::uint16_t port);
    void abandonUnfinished();
    // The fetch ends without a file: the line says why, what was stored goes.
    void dropFetch(const std::string& line);
    std::string faultLine() const;
    void log(const std::string& text);
    void report();
    void editRuleFile(const char* name);

    // --- response, parsing and queue ---
    void onRead(win::SOCKET s);
    void onPeerClosed(win::SOCKET s);
    bool receiveBlock();
    void store(std::string_view bytes);
    void closeLocalFile();
    void CompleteFetch();
    // The stored page is parsed a block per event, so that a page of millions
    // of links leaves the window free between blocks; the fetch ends (FetchBusy
    // off) with the last block.
    void startParse();
    void parseNextBlock();
    void stopParse();
    void showQueue();
    void showElapsed();
    void takeOffSiteLink(const std::string& url);

    net::EventLog m_log;
    std::string m_targetServer = "127.0.0.1";   // TargetServer
    std::uint16_t m_targetPort = 8010;          // TargetPort
    std::string m_pagePath;                     // PagePath
    std::string m_resolvedIp;                   // ResolvedIp, also the Host header
    std::string m_lastServer;                   // LastServer
    std::string m_pageDir;                      // PageDir
    std::string m_pageFile;                     // PageFile
    std::string m_localPath;                    // LocalPath
    win::SOCKET m_socket = win::INVALID_SOCKET; // HttpSocket
    int m_localFile = -1;                       // LocalFile
    bool m_fetchBusy = true;                    // FetchBusy
    bool m_fetchedSinceGo = false;              // FetchedSinceGo
    Clock::time_point m_goTime = Clock::now();  // GoTime
    std::int32_t m_totalReceived = 0;           // TotalReceived
    std::vector<std::string> m_parseTags;       // ParseTags
    std::vector<std::string> m_omitStrings;     // OmitStrings
    http::DownloadQueue m_queue;                // DownloadQueue
    http::ResponseReader m_response;
    int m_parseFile = -1;
    std::unique_ptr<http::LinkExtractor> m_extractor;
    std::string m_fetchPath;                   // the path of the fetch under way
    std::unordered_set<std::string> m_fetched; // local paths fetched since Go
    std::chrono::milliseconds m_connectWait = kConnectWait;
};

} // namespace tools
