#include "ui/desktop.h"

#include "ui/frontend.h"
#include "ui/procedureregistry.h"
#include "ui/toolwindow.h"
#include "ui/windowthread.h"

#include <algorithm>
#include <chrono>

namespace ui {

Desktop::Desktop(FrontEnd& frontEnd, const ProcedureRegistry& registry)
    : m_frontEnd(frontEnd), m_registry(registry) {}

Desktop::~Desktop() {
    closeAll();
    waitAllClosed(10000);
    std::lock_guard lock(m_mutex);
    for (auto& t : m_threads) t->wait();
    m_threads.clear();
}

std::shared_ptr<ToolWindow> Desktop::start(const std::string& procedure,
                                           std::vector<std::string> arguments) {
    std::unique_ptr<ToolWindow> window = m_registry.make(procedure);
    if (!window) return nullptr;
    return start(std::move(window), std::move(arguments));
}

std::shared_ptr<ToolWindow> Desktop::start(std::unique_ptr<ToolWindow> made,
                                           std::vector<std::string> arguments) {
    std::shared_ptr<ToolWindow> window(std::move(made));
    if (arguments.size() > 3) arguments.resize(3);
    window->m_arguments = std::move(arguments);
    window->m_desktop = this;
    window->m_self = window;
    WindowThread* thread = nullptr;
    {
        std::lock_guard lock(m_mutex);
        // The frame is single-instance: a second one would hold the same settings
        // and, closing, leave the session without anyone to end it.
        if (auto frame = m_frame.lock(); frame && frame->procedure() == window->procedure())
            return nullptr;
        reapThreads();
        window->m_instance = ++m_instances[window->procedure()];
        m_windows.push_back(window);
        m_threads.push_back(std::make_unique<WindowThread>(window));
        thread = m_threads.back().get();
    }
    thread->start();
    m_changed.notify_all();
    return window;
}

void Desktop::reapThreads() {
    std::erase_if(m_threads, [](const std::unique_ptr<WindowThread>& t) {
        if (!t->isFinished()) return false;
        t->wait();
        return true;
    });
}

std::vector<std::shared_ptr<ToolWindow>> Desktop::windows() const {
    std::lock_guard lock(m_mutex);
    return m_windows;
}

std::shared_ptr<ToolWindow> Desktop::find(const std::string& name) const {
    std::lock_guard lock(m_mutex);
    const bool numbered = name.find('#') != std::string::npos;
    std::shared_ptr<ToolWindow> newest;
    for (const auto& w : m_windows) {
        if (numbered ? w->name() == name : w->procedure() == name) {
            if (!newest || w->instance() > newest->instance()) newest = w;
        }
    }
    return newest;
}

bool Desktop::mayOpen(const std::string& name) const {
    const auto hash = name.find('#');
    const std::string procedure = name.substr(0, hash);
    std::lock_guard lock(m_mutex);
    const auto started = m_instances.find(procedure);
    const int count = started == m_instances.end() ? 0 : started->second;
    if (procedure.empty() || (!m_registry.contains(procedure) && count == 0)) return false;
    if (hash == std::string::npos) return true;
    const std::string digits = name.substr(hash + 1);
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int number = std::stoi(digits);
    if (number == 0) return false;
    for (const auto& w : m_windows)
        if (w->name() == name) return true;
    // Instances are numbered in the order they start: one already started and
    // gone never comes back, and there is only the one frame.
    if (number <= count) return false;
    const auto frame = m_frame.lock();
    return !frame || frame->procedure() != procedure;
}

std::shared_ptr<ToolWindow> Desktop::waitFor(const std::string& name, int milliseconds) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock lock(m_mutex);
    for (;;) {
        lock.unlock();
        std::shared_ptr<ToolWindow> w = find(name);
        lock.lock();
        if (w) return w;
        if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout) {
            lock.unlock();
            return find(name);
        }
    }
}

void Desktop::setFrame(const std::shared_ptr<ToolWindow>& frame) {
    std::lock_guard lock(m_mutex);
    m_frame = frame;
}

void Desktop::frameClosed() {
    std::vector<std::shared_ptr<ToolWindow>> others;
    {
        std::lock_guard lock(m_mutex);
        m_frameClosed = true;
        auto frame = m_frame.lock();
        for (const auto& w : m_windows)
            if (w != frame) others.push_back(w);
    }
    for (const auto& w : others) w->postClose();
}

bool Desktop::closeToolsAndWait(int milliseconds) {
    std::shared_ptr<ToolWindow> frame;
    std::vector<std::shared_ptr<ToolWindow>> others;
    {
        std::lock_guard lock(m_mutex);
        frame = m_frame.lock();
        for (const auto& w : m_windows)
            if (w != frame) others.push_back(w);
    }
    for (const auto& w : others) w->postClose();
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] {
        return std::all_of(m_windows.begin(), m_windows.end(),
                           [&](const std::shared_ptr<ToolWindow>& w) { return w == frame; });
    });
}

void Desktop::endSession() {
    for (const auto& w : windows()) {
        w->postMessage({win::WM_QUERYENDSESSION, 0, 0, 0});
        w->postMessage({win::WM_ENDSESSION, 1, 0, 0});
    }
}

void Desktop::closeAll() {
    for (const auto& w : windows()) w->postClose();
}

bool Desktop::waitAllClosed(int milliseconds) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                              [this] { return m_windows.empty(); });
}

void Desktop::windowFinished(const std::shared_ptr<ToolWindow>& window) {
    bool tellAllClosed = false;
    {
        std::lock_guard lock(m_mutex);
        std::erase(m_windows, window);
        window->m_self.reset();
        if (m_frameClosed && m_windows.empty() && !m_allClosedSent) {
            m_allClosedSent = true;
            tellAllClosed = true;
        }
    }
    m_changed.notify_all();
    if (tellAllClosed) m_frontEnd.allClosed();
}

} // namespace ui
