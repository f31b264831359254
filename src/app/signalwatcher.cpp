#include "app/signalwatcher.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace app {
namespace {

int g_pipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGUSR1};

void onSignal(int signal) {
    const char byte = static_cast<char>(signal);
    const int saved = errno;
    [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

SignalWatcher::SignalWatcher(std::function<void()> onEnd, std::function<void()> onReopen)
    : m_onEnd(std::move(onEnd)), m_onReopen(std::move(onReopen)) {
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
        char buf[64];
        bool end = false, reopen = false;
        for (ssize_t n; (n = ::read(g_pipe[0], buf, sizeof buf)) > 0;)
            for (ssize_t i = 0; i < n; ++i)
                (buf[i] == SIGUSR1 ? reopen : end) = true;
        if (reopen && m_onReopen) m_onReopen();
        if (end && m_onEnd) m_onEnd();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : kSignals)
        sigaction(s, &sa, nullptr);
}

SignalWatcher::~SignalWatcher() {
    // A rotation that asks while the program ends must not end it by a signal.
    for (int s : kSignals)
        std::signal(s, s == SIGUSR1 ? SIG_IGN : SIG_DFL);
}

} // namespace app
