#include "net/socketeventhook.h"

#include "platform/winsock.h"
#include "ui/toolwindow.h"

namespace net {
namespace {

constexpr win::UINT WM_LBUTTONUP = 0x0202;
constexpr win::UINT WM_RBUTTONUP = 0x0205;
constexpr win::UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr win::UINT WM_RBUTTONDBLCLK = 0x0206;

int serverEvent(win::LPARAM l) {
    switch (l) {
    case win::FD_ACCEPT: return 1126;
    case win::FD_READ: return 1127;
    case win::FD_CLOSE: return 1128;
    }
    return 0;
}

int clientEvent(win::LPARAM l) {
    switch (l) {
    case win::FD_CONNECT: return 1024;
    case win::FD_WRITE: return 1025;
    case win::FD_READ: return 1026;
    case win::FD_CLOSE: return 1027;
    }
    return 0;
}

} // namespace

bool SocketEventHook::handle(ui::ToolWindow& window, const win::Message& m, win::LRESULT& result) {
    auto post = [&](int event) { window.postUserEvent(event, m.wParam, m.lParam); };
    const bool server = m_variant == Variant::Server;
    const bool session = server || m_variant == Variant::Frame;

    if (m.msg == SocketNotifyMessage) {
        const int event = server ? serverEvent(m.lParam)
                          : m_variant == Variant::Client ? clientEvent(m.lParam)
                                                         : 0;
        if (event) post(event);
        return false;
    }
    if ((server || m_variant == Variant::Lookup) &&
        (m.msg == HostByAddrMessage || m.msg == HostByNameMessage)) {
        post(m.msg == HostByAddrMessage ? 1027 : 1028);
        return false;
    }
    if (session && m.msg == win::WM_QUERYENDSESSION) {
        result = 1; // agree to end the session, and tell nobody else
        return true;
    }
    if (session && m.msg == win::WM_ENDSESSION) {
        post(1024);
        return false;
    }
    if (m_variant == Variant::Frame && m.msg == NotifyIconMessage) {
        int event = 0;
        switch (static_cast<win::UINT>(m.lParam & 0xFFFF)) {
        case WM_LBUTTONUP: event = 1089; break;
        case WM_RBUTTONUP: event = 1090; break;
        case WM_LBUTTONDBLCLK: event = 1091; break;
        case WM_RBUTTONDBLCLK: event = 1092; break;
        }
        if (event) {
            m_iconId = m.wParam;
            post(event);
        }
        result = 0;
        return true;
    }
    return false;
}

} // namespace net
