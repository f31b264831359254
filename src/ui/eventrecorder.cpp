#include "ui/eventrecorder.h"

#include "ui/event.h"
#include "ui/eventwindow.h"
#include "ui/toolwindow.h"

namespace ui {
namespace {

using K = Event::Kind;

std::string nameOf(ToolWindow* window) {
    return window ? window->name() : std::string("-");
}

} // namespace

EventRecorder::EventRecorder(FrontEnd& inner, EventSink& sink) : m_inner(inner), m_sink(sink) {}

EventRecorder::~EventRecorder() = default;

void EventRecorder::windowOpened(const std::shared_ptr<ToolWindow>& window) {
    const std::string name = window->name();
    auto observer = std::make_unique<EventWindow>(m_sink, name, &window->definition());
    window->model().addObserver(observer.get());
    {
        std::lock_guard lock(m_mutex);
        m_windows[window.get()] = std::move(observer);
    }
    m_sink.report({K::Open, name});
    m_inner.windowOpened(window);
}

void EventRecorder::windowClosed(ToolWindow& window) {
    m_inner.windowClosed(window);
    std::unique_ptr<EventWindow> observer;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_windows.find(&window);
        if (it != m_windows.end()) {
            observer = std::move(it->second);
            m_windows.erase(it);
        }
    }
    if (observer) window.model().removeObserver(observer.get());
    m_sink.report({K::Closed, window.name()});
}

int EventRecorder::messageBox(ToolWindow& window, const BoxRequest& request) {
    const std::string name = window.name();
    std::vector<std::string> buttons;
    for (int a : boxAnswers(request.buttons))
        buttons.emplace_back(boxAnswerLabel(a));
    Event box{K::Box, name};
    box.text = request.caption;
    box.detail = request.text;
    box.word = boxIconName(request.icon);
    box.cells = &buttons;
    m_sink.report(box);
    const int answer = m_inner.messageBox(window, request);
    Event answered{K::Answer, name};
    answered.word = boxAnswerLabel(answer);
    m_sink.report(answered);
    return answer;
}

int EventRecorder::popupMenu(ToolWindow& window, const std::string& items) {
    const std::string name = window.name();
    Event menu{K::Menu, name};
    menu.text = items;
    m_sink.report(menu);
    const int choice = m_inner.popupMenu(window, items);
    Event chosen{K::Chosen, name};
    chosen.number = choice;
    m_sink.report(chosen);
    return choice;
}

std::string EventRecorder::chooseDirectory(ToolWindow& window, const std::string& title,
                                           const std::string& start) {
    return m_inner.chooseDirectory(window, title, start);
}

void EventRecorder::beep(ToolWindow* window) {
    m_sink.report({K::Beep, nameOf(window)});
    m_inner.beep(window);
}

void EventRecorder::playSound(ToolWindow* window, const std::string& file) {
    const std::string name = nameOf(window);
    Event cue{K::Cue, name};
    cue.text = file;
    m_sink.report(cue);
    m_inner.playSound(window, file);
}

void EventRecorder::standardAction(ToolWindow& frame, StandardAction action) {
    m_inner.standardAction(frame, action);
}

void EventRecorder::bringToFront(ToolWindow& window) {
    m_sink.report({K::Front, window.name()});
    m_inner.bringToFront(window);
}

void EventRecorder::allClosed() {
    m_inner.allClosed();
}

// Desktop notices are the wrapped front end's own: an events file records the
// hit's log line already.
FrontEnd::NotificationSupport EventRecorder::notificationSupport() {
    return m_inner.notificationSupport();
}

void EventRecorder::notify(ToolWindow& window, const std::string& text) {
    m_inner.notify(window, text);
}

void EventRecorder::flushOutput(bool waited) {
    m_inner.flushOutput(waited);
}

} // namespace ui
