#include "ui/qt/qtfrontend.h"

#include "ui/qt/desktopnotifier.h"
#include "ui/qt/formwidget.h"
#include "ui/qt/framewindow.h"
#include "ui/qt/guiqueue.h"
#include "ui/qt/modalrequests.h"
#include "ui/qt/programfiles.h"
#include "ui/qt/soundplayer.h"
#include "ui/qt/textedge.h"
#include "ui/qt/toolsubwindow.h"
#include "ui/qt/trayicon.h"
#include "ui/qt/windowobserver.h"
#include "ui/toolwindow.h"

#include <QApplication>
#include <QMdiArea>
#include <QTimer>
#include <chrono>

namespace ui {

QtFrontEnd::QtFrontEnd()
    : m_gui(std::make_unique<GuiQueue>()), m_modal(std::make_unique<ModalRequests>()),
      m_sound(std::make_unique<SoundPlayer>()) {
    // The frame, every tool window and the desktop entry show the same icon.
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        QApplication::setWindowIcon(programfiles::appIcon());
        m_tray = std::make_unique<TrayIcon>(*m_gui);
        win::SetNotificationArea(m_tray.get());
        m_notifier = std::make_unique<DesktopNotifier>(
            [this](const std::shared_ptr<ToolWindow>& window) { showNotified(window); });
    }
    if (QCoreApplication* app = QCoreApplication::instance()) {
        // Once the event loop is ending nobody will answer a box: the waiting
        // threads get their defaults so they can close.
        QObject::connect(app, &QCoreApplication::aboutToQuit, m_gui.get(), [this] {
            m_quitting = true;
            m_modal->answerAll();
        });
    }
}

QtFrontEnd::~QtFrontEnd() {
    win::SetNotificationArea(nullptr);
    m_quitting = true;
    m_modal->answerAll();
    {
        std::lock_guard lock(m_mutex);
        for (auto& [window, observer] : m_observers)
            observer->setView(nullptr);
    }
    for (auto& [window, shown] : m_shown)
        shown.observer->setView(nullptr);
    m_main.reset();
    m_shown.clear();
    // Queued calls still waiting for the GUI object are dropped with it.
    m_gui.reset();
}

void QtFrontEnd::setDesktop(Desktop* desktop) {
    m_desktop = desktop;
}

template <typename Fn> void QtFrontEnd::onGui(Fn fn) {
    m_gui->post(std::move(fn));
}

FrameWindow& QtFrontEnd::mainWindow() {
    if (!m_main) {
        m_main = std::make_unique<FrameWindow>();
        if (m_tray) m_tray->watchActivation(m_main.get());
    }
    return *m_main;
}

ToolSubWindow* QtFrontEnd::subWindow(const ToolWindow& window) const {
    auto it = m_shown.find(&window);
    return it == m_shown.end() ? nullptr : it->second.sub;
}

// --- windows ------------------------------------------------------------------------

void QtFrontEnd::windowOpened(const std::shared_ptr<ToolWindow>& window) {
    const bool frame = !window->definition().menu.empty();
    {
        // The tools the frame starts as it opens begin their work once the frame
        // is on the screen, so that they do not hold it up; a GUI thread that
        // does not come round to showing it keeps them waiting a second at most.
        std::unique_lock lock(m_mutex);
        if (frame && !m_mainShown) m_frameWaited = true;
        if (!frame && m_frameWaited)
            m_frameShown.wait_for(lock, std::chrono::seconds(1), [this] { return !m_frameWaited; });
    }
    // Observing starts here, on the window's thread, before its first handler:
    // nothing the tool writes from now on can be missed.
    auto observer = std::make_shared<WindowObserver>(*window, m_gui.get(), m_flushes);
    observer->seedFromModel();
    window->model().addObserver(observer.get());
    {
        std::lock_guard lock(m_mutex);
        m_observers[window.get()] = observer;
    }
    onGui([this, window, observer] { show(window, observer); });
}

void QtFrontEnd::show(const std::shared_ptr<ToolWindow>& window,
                      const std::shared_ptr<WindowObserver>& observer) {
    FrameWindow& main = mainWindow();
    Shown shown{window, observer, nullptr};
    const bool frame = !window->definition().menu.empty();
    if (!frame && m_frameComing) {
        m_deferred.push_back(std::move(shown));
        return;
    }
    if (frame) {
        main.attachFrame(window);
        observer->setView(&main);
        observer->flush();
    } else {
        auto* sub = new ToolSubWindow(window);
        main.addToolWindow(sub);
        observer->setView(sub);
        observer->flush();
        sub->showFirstTime();
        shown.sub = sub;
    }
    m_shown[window.get()] = std::move(shown);
    if (main.isVisible()) return;
    main.show();
    {
        std::lock_guard lock(m_mutex);
        m_frameWaited = false;
        m_mainShown = true;
    }
    m_frameShown.notify_all();
    // The windows the frame opens as it starts are made after it is up: the person
    // sees the frame sooner, and its tools a moment later. A timer, not a queued
    // call: it fires once the events already waiting (the frame's own) are done.
    m_frameComing = true;
    auto* later = new QTimer(m_gui.get());
    later->setSingleShot(true);
    QObject::connect(later, &QTimer::timeout, m_gui.get(), [this, later] {
        later->deleteLater();
        m_frameComing = false;
        std::vector<Shown> deferred = std::move(m_deferred);
        m_deferred.clear();
        for (auto& d : deferred)
            show(d.window, d.observer);
    });
    later->start(0);
}

void QtFrontEnd::windowClosed(ToolWindow& window) {
    std::shared_ptr<WindowObserver> observer;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_observers.find(&window);
        if (it != m_observers.end()) {
            observer = std::move(it->second);
            m_observers.erase(it);
        }
    }
    if (observer) window.model().removeObserver(observer.get());
    const ToolWindow* key = &window;
    onGui([this, key] { forget(const_cast<ToolWindow*>(key)); });
}

void QtFrontEnd::forget(ToolWindow* window) {
    std::erase_if(m_deferred, [window](const Shown& s) { return s.window.get() == window; });
    auto it = m_shown.find(window);
    if (it == m_shown.end()) return;
    Shown shown = std::move(it->second);
    m_shown.erase(it);
    // The last changes the tool made while closing are shown before it goes.
    shown.observer->flush();
    shown.observer->setView(nullptr);
    if (shown.sub)
        shown.sub->release();
    else if (m_main)
        m_main->detachFrame();
}

void QtFrontEnd::allClosed() {
    onGui([this] {
        if (m_main) m_main->hide();
        QCoreApplication::quit();
    });
}

// --- requests that wait for an answer ----------------------------------------------

int QtFrontEnd::waitFor(std::future<int> answer, int fallback) {
    using namespace std::chrono_literals;
    try {
        while (answer.wait_for(100ms) != std::future_status::ready)
            if (m_quitting) return fallback;
        return answer.get();
    } catch (const std::future_error&) {
        return fallback; // the request was dropped unanswered
    }
}

int QtFrontEnd::messageBox(ToolWindow& window, const BoxRequest& request) {
    const int fallback = ModalRequests::defaultAnswer(request.buttons);
    if (m_quitting) return fallback;
    auto promise = std::make_shared<std::promise<int>>();
    std::future<int> answer = promise->get_future();
    const ToolWindow* key = &window;
    onGui([this, key, request, promise] {
        ToolSubWindow* sub = subWindow(*key);
        m_modal->showBox(&mainWindow(), sub ? sub->form() : nullptr, request, promise);
    });
    return waitFor(std::move(answer), fallback);
}

int QtFrontEnd::popupMenu(ToolWindow&, const std::string& items) {
    if (m_quitting) return 0;
    auto promise = std::make_shared<std::promise<int>>();
    std::future<int> answer = promise->get_future();
    onGui([this, items, promise] { m_modal->showPopup(&mainWindow(), items, promise); });
    return waitFor(std::move(answer), 0);
}

std::string QtFrontEnd::chooseDirectory(ToolWindow& window, const std::string& title,
                                        const std::string& start) {
    if (m_quitting) return {};
    auto promise = std::make_shared<std::promise<int>>();
    auto chosen = std::make_shared<std::string>();
    std::future<int> answer = promise->get_future();
    const ToolWindow* key = &window;
    onGui([this, key, title, start, promise, chosen] {
        ToolSubWindow* sub = subWindow(*key);
        m_modal->showDirectory(&mainWindow(), sub ? sub->form() : nullptr, title, start, chosen,
                               promise);
    });
    // The directory is kept before the promise is, so it is there once the wait ends.
    return waitFor(std::move(answer), IDCANCEL) == IDOK ? *chosen : std::string();
}

// --- sound and the frame's standard actions -----------------------------------------

void QtFrontEnd::beep(ToolWindow*) {
    onGui([] { QApplication::beep(); });
}

void QtFrontEnd::playSound(ToolWindow*, const std::string& file) {
    const QString name = textedge::toQt(file);
    onGui([this, name] { m_sound->play(name); });
}

void QtFrontEnd::standardAction(ToolWindow&, StandardAction action) {
    onGui([this, action] { mainWindow().standardAction(action); });
}

void QtFrontEnd::bringToFront(ToolWindow& window) {
    const ToolWindow* key = &window;
    onGui([this, key] {
        ToolSubWindow* sub = subWindow(*key);
        if (!sub) return;
        if (sub->isMinimized()) sub->showNormal();
        if (QMdiArea* area = sub->mdiArea()) area->setActiveSubWindow(sub);
        sub->raise();
        mainWindow().raise();
        mainWindow().activateWindow();
    });
}

// --- desktop notifications -----------------------------------------------------------

FrontEnd::NotificationSupport QtFrontEnd::notificationSupport() {
    if (!m_notifier) return {false, "no screen"};
    return DesktopNotifier::support();
}

void QtFrontEnd::notify(ToolWindow& window, const std::string& text) {
    const ToolWindow* key = &window;
    const QString shown = textedge::toQt(text);
    onGui([this, key, shown] {
        auto it = m_shown.find(key);
        if (it == m_shown.end() || !m_notifier) return;
        m_notifier->send(shown, it->second.window);
        if (m_tray && !(m_main && m_main->isActiveWindow())) m_tray->setAlert(true);
    });
}

void QtFrontEnd::showNotified(const std::shared_ptr<ToolWindow>& window) {
    // The frame may have been hidden from the notification area's menu.
    FrameWindow& main = mainWindow();
    if (main.isMinimized()) main.showNormal();
    if (!main.isVisible()) main.show();
    bringToFront(*window);
}

} // namespace ui
