#include "net/resetclosehook.h"

#include "net/socketeventhook.h"
#include "platform/winsock.h"
#include "ui/toolwindow.h"

namespace net {

bool ResetCloseHook::handle(ui::ToolWindow& window, const win::Message& m, win::LRESULT& result) {
    if (m.msg != SocketNotifyMessage || win::WSAGETSELECTEVENT(m.lParam) != win::FD_CLOSE ||
        win::WSAGETSELECTERROR(m.lParam) == 0)
        return false;
    window.postUserEvent(1128, m.wParam, m.lParam);
    result = 0;
    return true;
}

} // namespace net
