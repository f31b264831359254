#pragma once
#include "net/winsockerror.h"

#include <functional>
#include <optional>
#include <string>

namespace ui {
class ToolWindow;
}

namespace net {

class EventLog;

struct LocalHost {
    std::string name;    // LocalHostName: the official name, up to 254 characters
    std::string address; // LocalHostAddress: dotted text of its first address
};

// ReadLocalHost: the local host's name and first IPv4 address. A failing
// gethostname is reported in the tool's variant and the fields stay empty.
LocalHost ReadLocalHost(ui::ToolWindow& window, ReportVariant variant, EventLog* log);

// EnsureSockets: starts the sockets layer once for the process. On failure the
// error is reported and the window is asked to close; either way it counts as started.
void EnsureSockets(ui::ToolWindow& window, ReportVariant variant, EventLog* log);

// The user name and computer name as the banner shows them (empty on failure).
std::string userName();
std::string computerName();

// StartupBanner: the opening lines of the blockers and servers, each one log line.
// `setCaption` runs once the host is known (each tool words its caption itself);
// the servers pass their port.
LocalHost StartupBanner(ui::ToolWindow& window, EventLog& log, ReportVariant variant,
                        const std::function<void(const LocalHost&)>& setCaption,
                        std::optional<int> port = std::nullopt);

} // namespace net
