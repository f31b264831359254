#include "ui/toolwindow.h"

#include "ui/desktop.h"
#include "ui/frontend.h"
#include "ui/messagehook.h"
#include "ui/pendingevent.h"
#include "ui/windowloop.h"
#include "ui/windowplacement.h"

#include "platform/blockingcall.h"
#include "platform/pollgroup.h"
#include "platform/text.h"
#include "platform/winsock.h"

#include <QThread>
#include <cstdio>

namespace ui {
namespace {
thread_local int t_batchDepth = 0;
} // namespace

ToolWindow::ToolWindow(std::string procedure, WindowDefinition definition)
    : m_procedure(std::move(procedure)), m_definition(std::move(definition)),
      m_model(m_definition) {}

ToolWindow::~ToolWindow() {
    // Sockets or lookups still registered for the window would post to freed memory.
    win::WSADetachWindow(this);
}

std::string ToolWindow::name() const { return m_procedure + "#" + std::to_string(m_instance); }

std::string ToolWindow::argument(std::size_t index) const {
    return index < m_arguments.size() ? m_arguments[index] : std::string();
}

FrontEnd* ToolWindow::frontEnd() const { return m_desktop ? &m_desktop->frontEnd() : nullptr; }

// --- posting ------------------------------------------------------------------

void ToolWindow::post(std::unique_ptr<Pending> event) {
    std::lock_guard lock(m_postMutex);
    if (m_loopGone) return; // the window has closed: nothing reaches it any more
    const bool wasEmpty = m_queue.empty();
    m_queue.push_back(std::move(event));
    if (wasEmpty && m_loop && !m_loopBusy && !m_wakePending) {
        m_wakePending = true;
        m_loop->wake();
    }
}

void ToolWindow::attachLoop(WindowLoop* loop, win::PollGroup* group) {
    m_pollGroup = group;
    std::lock_guard lock(m_postMutex);
    m_loop = loop;
    m_blockingThread = win::WSACurrentBlockingThread();
    // Events posted before the loop ran wait for it.
    if (!m_queue.empty() && !m_wakePending) {
        m_wakePending = true;
        m_loop->wake();
    }
}

void ToolWindow::detachLoop() {
    // Sockets registered from now on go to the process-wide poller; those in the
    // group are released by the group itself.
    m_pollGroup = nullptr;
    std::deque<std::unique_ptr<Pending>> dropped;
    {
        std::lock_guard lock(m_postMutex);
        m_loop = nullptr;
        m_loopGone = true;
        dropped.swap(m_queue);
    }
    // Destroyed outside the lock: an invoke that never ran breaks its promise here.
}

bool ToolWindow::inBatch() {
    return t_batchDepth > 0;
}

void ToolWindow::beginBatch() {
    ++t_batchDepth;
}

void ToolWindow::endBatch() {
    if (--t_batchDepth > 0) return;
    if (win::PollGroup* group = m_pollGroup.load()) group->flush();
    if (FrontEnd* f = frontEnd()) f->flushOutput(false);
}

void ToolWindow::holdWakes() {
    std::lock_guard lock(m_postMutex);
    m_loopBusy = true;
}

void ToolWindow::runQueued(bool woken) {
    // A batch at a time, so the loop's own work (timers, sockets) is not starved by
    // a thread that keeps posting.
    constexpr int kBatch = 256;
    for (int left = kBatch;; --left) {
        std::unique_ptr<Pending> next;
        {
            std::lock_guard lock(m_postMutex);
            if (woken) {
                m_wakePending = false;
                woken = false;
            }
            if (m_queue.empty() || left == 0 || m_closed) {
                m_loopBusy = false;
                if (!m_queue.empty() && !m_closed && m_loop && !m_wakePending) {
                    m_wakePending = true;
                    m_loop->wake();
                }
                return;
            }
            m_loopBusy = true;
            next = std::move(m_queue.front());
            m_queue.pop_front();
        }
        dispatch(*next);
    }
}

void ToolWindow::postMessage(const win::Message& message) {
    auto e = std::make_unique<Pending>();
    e->kind = Pending::Kind::Message;
    e->message = message;
    post(std::move(e));
}

void ToolWindow::postUserEvent(int event, win::WPARAM wParam, win::LPARAM lParam) {
    auto e = std::make_unique<Pending>();
    e->kind = Pending::Kind::User;
    e->number = event;
    e->message = {static_cast<win::UINT>(event), wParam, lParam, 0};
    post(std::move(e));
}

void ToolWindow::postClose() {
    auto e = std::make_unique<Pending>();
    e->kind = Pending::Kind::Close;
    post(std::move(e));
    // A handler blocked in a sockets call (a connect to a host that does not
    // answer) would hold the close for minutes: the call is cancelled, as Winsock's
    // WSACancelBlockingCall would, and so is any the handler starts after it.
    std::shared_ptr<win::BlockingThread> blocking;
    {
        std::lock_guard lock(m_postMutex);
        blocking = m_blockingThread;
    }
    if (blocking) blocking->cancel();
}

void ToolWindow::postControl(int control) {
    auto e = std::make_unique<Pending>();
    e->kind = Pending::Kind::Control;
    e->number = control;
    post(std::move(e));
}

void ToolWindow::postMenu(int id) {
    auto e = std::make_unique<Pending>();
    e->kind = Pending::Kind::Menu;
    e->number = id;
    post(std::move(e));
}

std::future<void> ToolWindow::invoke(std::function<void()> fn) {
    auto e = std::make_unique<Pending>();
    e->kind = Pending::Kind::Invoke;
    e->fn = std::move(fn);
    e->done.emplace();
    std::future<void> f = e->done->get_future();
    post(std::move(e));
    return f;
}

// --- dispatch, on the window's thread --------------------------------------------

void ToolWindow::dispatch(Pending& event) {
    if (m_closed) return;
    try {
        switch (event.kind) {
        case Pending::Kind::Message:
            runMessage(event.message);
            break;
        case Pending::Kind::User:
            if (!m_closing) onUserEvent(event.number, event.message.wParam, event.message.lParam);
            break;
        case Pending::Kind::Control:
            if (!m_closing && m_model.enabled(event.number)) onControl(event.number);
            break;
        case Pending::Kind::Menu:
            if (!m_closing) applyMenu(event.number);
            break;
        case Pending::Kind::Invoke:
            if (event.fn) event.fn();
            break;
        case Pending::Kind::Close:
            runClose();
            break;
        }
    } catch (const std::exception& e) {
        reportFailure(e.what());
    }
    if (event.done) {
        // Whoever waits for this sees what it printed.
        if (FrontEnd* f = frontEnd()) f->flushOutput(true);
        event.done->set_value();
        event.done.reset();
    }
}

void ToolWindow::runMessage(const win::Message& message) {
    if (m_closing || !win::NotificationIsCurrent(message)) return;
    // Copy: a hook may install another hook while it runs.
    auto hooks = m_hooks;
    for (const auto& hook : hooks) {
        win::LRESULT result = 0;
        if (hook->handle(*this, message, result)) return;
    }
}

bool ToolWindow::runStart() {
    bool start = false;
    try {
        start = onStart();
    } catch (const std::exception& e) {
        reportFailure(e.what());
    }
    if (!start) m_closed = true;
    return start;
}

void ToolWindow::runOpen() {
    m_open = true;
    if (FrontEnd* f = frontEnd()) f->windowOpened(m_self);
    if (usesPlacement()) fetchWindowPlacement(*this);
    try {
        onOpen();
    } catch (const std::exception& e) {
        reportFailure(e.what());
    }
}

void ToolWindow::runClose() {
    if (m_closing.exchange(true)) return;
    // The close handler's own calls may block again (a later close cancels them).
    if (m_blockingThread) m_blockingThread->resume();
    try {
        onClose();
    } catch (const std::exception& e) {
        reportFailure(e.what());
    }
    if (usesPlacement()) updateWindowPlacement(*this);
    setTimer(0);
    afterClose();
    m_closed = true;
    if (FrontEnd* f = frontEnd()) f->windowClosed(*this);
    QThread::currentThread()->quit();
}

// --- what a person does ------------------------------------------------------------

bool ToolWindow::applyInput(int control, const std::string& value) {
    if (!m_model.enabled(control)) return false;
    const ControlDef* def = m_definition.control(control);
    const ControlKind kind = def ? def->kind : ControlKind::Entry;
    if (kind == ControlKind::CheckBox) {
        m_model.setChecked(control, text::leadingDecimal(value) != 0, true);
    } else if (kind == ControlKind::Radio) {
        selectRadio(control);
    } else {
        m_model.setValue(control, value, true);
    }
    return true;
}

bool ToolWindow::applyPress(int control) {
    if (m_closing || !m_model.enabled(control)) return false;
    const ControlDef* def = m_definition.control(control);
    if (def && def->kind == ControlKind::CheckBox)
        m_model.setChecked(control, !m_model.checked(control), true);
    else if (def && def->kind == ControlKind::Radio)
        selectRadio(control);
    onControl(control);
    return true;
}

void ToolWindow::selectRadio(int control) {
    // Consecutive radio options form one group: choosing one clears the others.
    const auto& controls = m_definition.controls;
    std::size_t at = 0;
    while (at < controls.size() && controls[at].number != control) ++at;
    if (at == controls.size()) return;
    std::size_t first = at, last = at;
    while (first > 0 && controls[first - 1].kind == ControlKind::Radio) --first;
    while (last + 1 < controls.size() && controls[last + 1].kind == ControlKind::Radio) ++last;
    for (std::size_t i = first; i <= last; ++i)
        if (controls[i].number != control && m_model.checked(controls[i].number))
            m_model.setChecked(controls[i].number, false, true);
    m_model.setChecked(control, true, true);
}

void ToolWindow::applyMenu(int id) {
    if (m_closing) return;
    const MenuItemDef* item = m_definition.menuItem(id);
    if (item && item->action != StandardAction::None) {
        if (FrontEnd* f = frontEnd()) f->standardAction(*this, item->action);
        return;
    }
    onMenu(id);
}

// --- services -------------------------------------------------------------------

void ToolWindow::installHook(std::shared_ptr<MessageHook> hook) {
    m_hooks.insert(m_hooks.begin(), std::move(hook));
}

void ToolWindow::setTimer(int hundredths) {
    m_timerPeriod = hundredths;
    std::lock_guard lock(m_postMutex);
    if (m_loop) m_loop->setTimer(hundredths);
}

void ToolWindow::callAfter(int milliseconds, std::function<void()> fn) {
    std::lock_guard lock(m_postMutex);
    if (m_loop) m_loop->callAfter(milliseconds, std::move(fn));
}

int ToolWindow::messageBox(const std::string& text, const std::string& caption, BoxIcon icon,
                           BoxButtons buttons) {
    FrontEnd* f = frontEnd();
    if (!f) return boxAnswers(buttons).front();
    return f->messageBox(*this, BoxRequest{text, caption, icon, buttons});
}

int ToolWindow::popupMenu(const std::string& items) {
    FrontEnd* f = frontEnd();
    return f ? f->popupMenu(*this, items) : 0;
}

void ToolWindow::beep() {
    if (FrontEnd* f = frontEnd()) f->beep(this);
}

void ToolWindow::bringToFront() {
    if (FrontEnd* f = frontEnd()) f->bringToFront(*this);
}

void ToolWindow::notifyDesktop(const std::string& text) {
    if (FrontEnd* f = frontEnd()) f->notify(*this, text);
}

void ToolWindow::startProcedure(const std::string& procedure, std::vector<std::string> arguments) {
    if (m_desktop) m_desktop->start(procedure, std::move(arguments));
}

void ToolWindow::reportFailure(const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", name().c_str(), what.c_str());
}

} // namespace ui
