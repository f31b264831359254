#pragma once
#include "platform/internet.h"
#include "ui/toolwindow.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace tools {

// The asynchronous download window "HTTP async.": one URL fetched through the
// internet library in asynchronous mode, optionally through a proxy, stored
// beneath the current directory, with every status notification listed.
//
// A one-second timer works the transfer state: 0 idle or waiting for the URL to
// open, 1 opened (the file is created next), 2 ready to read, 3 read issued,
// 4 data arrived (written next), 5 finished (file and handles closed next, then
// 0). The library's status callback moves the state forward from the library's
// thread; that state, the URL handle, the status line and the status list are
// shared with the window's thread under one process-wide lock.
//
// Only one such window exists at a time: a second start brings the open one to
// the front instead.
class Http_asy : public ui::ToolWindow {
public:
    enum Control {
        UrlPrompt = 1,
        UrlEntry,
        ProxyBox,
        ProxyEntry,
        LocalPrompt,
        LocalField,
        TransferredPrompt,
        TransferredField,
        SpeedPrompt,
        SpeedField,
        StatusField,
        StatusList,
        GoButton,
        StateField,
    };
    // The user events: a second start's focus request, and a failed request.
    static constexpr int FocusRequest = 1025;
    static constexpr int ErrorEvent = 1026;
    static constexpr win::DWORD BlockSize = 4096;

    Http_asy();
    ~Http_asy() override;
    static ui::WindowDefinition makeDefinition();

protected:
    bool onStart() override;
    void onOpen() override;
    void onClose() override;
    void onControl(int control) override;
    void onTimer() override;
    void onUserEvent(int event, win::WPARAM wParam, win::LPARAM lParam) override;

private:
    using Clock = std::chrono::steady_clock;

    static void statusCallback(win::HINTERNET handle, win::DWORD_PTR context, win::DWORD status,
                               void* information, win::DWORD length);
    // Under the shared lock.
    void setState(std::uint8_t state);

    void takeFields();
    void go();
    void readBlock();
    void writeBlock();
    void finish();
    void releaseRoot();
    void closeFile();
    void showTransfer();
    void errorReport(win::DWORD error);

    std::string m_url = "http://127.0.0.1"; // DownloadUrl, 128 characters
    bool m_useProxy = false;
    std::string m_proxy = "localhost:8001"; // ProxyText, host:port, 64 characters
    std::string m_localPath;                // LocalDownloadPath as the window shows it
    std::string m_filePath;                 // the same file as it is opened
    std::int64_t m_transferred = 0;
    double m_kiloPerSecond = 0;
    std::string m_statusLine; // written by the callback through its context
    win::HINTERNET m_root = nullptr;
    char m_readBuffer[BlockSize] = {};
    win::DWORD m_bytesRead = 0;
    int m_file = -1;
    Clock::time_point m_transferStart;
    Clock::time_point m_readStart;
};

} // namespace tools
