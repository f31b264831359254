#pragma once
#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace app {

// SIGTERM, SIGINT and SIGHUP end the session as logging off would; SIGUSR1 asks
// for the events file to be opened again (log rotation). The handler only writes
// the signal's number to a pipe; the callbacks run on the main thread's event loop.
class SignalWatcher {
public:
    SignalWatcher(std::function<void()> onEnd, std::function<void()> onReopen = {});
    ~SignalWatcher();

private:
    std::function<void()> m_onEnd;
    std::function<void()> m_onReopen;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace app
