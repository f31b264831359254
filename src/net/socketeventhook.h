#pragma once
#include "platform/message.h"
#include "ui/messagehook.h"

#include <atomic>

namespace net {

// The private messages every socket tool uses.
constexpr win::UINT SocketNotifyMessage = win::WM_USER + 101; // 1125, for WSAAsyncSelect
constexpr win::UINT HostByAddrMessage = win::WM_USER + 110;   // 1134, WSAAsyncGetHostByAddr
constexpr win::UINT HostByNameMessage = win::WM_USER + 111;   // 1135, WSAAsyncGetHostByName
constexpr win::UINT NotifyIconMessage = 1088;

// Turns socket, lookup and session messages into user events posted to the
// window's own thread. The whole lParam is compared with the event code, so a
// notification carrying an error matches nothing and posts nothing.
class SocketEventHook : public ui::MessageHook {
public:
    enum class Variant { Server, Client, Lookup, Frame };

    explicit SocketEventHook(Variant variant) : m_variant(variant) {}
    bool handle(ui::ToolWindow& window, const win::Message& message, win::LRESULT& result) override;

    Variant variant() const { return m_variant; }
    // The frame variant keeps the identifier of the last notification-icon message.
    win::WPARAM iconId() const { return m_iconId.load(); }

private:
    Variant m_variant;
    std::atomic<win::WPARAM> m_iconId{0};
};

} // namespace net
