#pragma once
#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace app {

// SIGTERM, SIGINT and SIGHUP end the session as logging off would: the handler
// only writes to a pipe, and the callback runs on the main thread's event loop.
class SignalWatcher {
public:
    explicit SignalWatcher(std::function<void()> onSignal);
    ~SignalWatcher();

private:
    std::function<void()> m_onSignal;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace app
