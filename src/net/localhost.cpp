#include "net/localhost.h"

#include "net/eventlog.h"
#include "net/shellstate.h"
#include "platform/system.h"
#include "platform/text.h"
#include "platform/winsock.h"
#include "ui/toolwindow.h"

#include <cstring>
#include <mutex>

namespace net {

LocalHost ReadLocalHost(ui::ToolWindow& window, ReportVariant variant, EventLog* log) {
    LocalHost host;
    char name[256] = {};
    if (win::gethostname(name, sizeof name) != 0) {
        ReportWinsockError(window, variant, log);
        name[0] = '\0';
    }
    if (win::hostent* entry = win::gethostbyname(name); entry && entry->h_name)
        host.name = text::trimRight(text::cut(entry->h_name, 254));
    if (name[0] != '\0') {
        const std::string shortName = text::cut(name, 100);
        win::hostent* entry = win::gethostbyname(shortName.c_str());
        if (entry && entry->h_addr_list && entry->h_addr_list[0]) {
            win::in_addr first{};
            std::memcpy(&first, entry->h_addr_list[0], sizeof first);
            host.address = win::inet_ntoa(first);
        }
    }
    return host;
}

void EnsureSockets(ui::ToolWindow& window, ReportVariant variant, EventLog* log) {
    // Two tools opening at once must not both start the layer.
    static std::mutex startMutex;
    std::lock_guard lock(startMutex);
    if (shell::SocketsStarted.load() != 0) return;
    const int result = win::WSAStartup(0x0101, &shell::SocketsData);
    shell::SocketsResult = static_cast<std::int16_t>(result);
    if (result != 0) {
        ReportWinsockCode(window, variant, log, result);
        window.postClose();
    }
    shell::SocketsStarted = 1;
}

std::string userName() {
    char buf[128] = {};
    win::DWORD size = 127;
    if (!win::GetUserNameA(buf, &size)) return {};
    return text::trimRight(buf);
}

std::string computerName() {
    char buf[128] = {};
    win::DWORD size = 127;
    if (!win::GetComputerNameA(buf, &size)) return {};
    return buf;
}

LocalHost StartupBanner(ui::ToolWindow& window, EventLog& log, ReportVariant variant,
                        const std::function<void(const LocalHost&)>& setCaption,
                        std::optional<int> port) {
    log.add("User name: " + userName());
    log.add("Computer name: " + computerName());
    log.add("Initializing sockets ..");
    EnsureSockets(window, variant, &log);
    LocalHost host = ReadLocalHost(window, variant, &log);
    if (setCaption) setCaption(host);
    log.add("Host name: " + host.name);
    log.add("Host IP: " + host.address);
    if (port) log.add("Port: " + std::to_string(*port));
    log.add(" ");
    return host;
}

} // namespace net
