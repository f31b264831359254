#include "net/eventlog.h"

#include "platform/text.h"
#include "ui/windowmodel.h"

namespace net {

EventLog::EventLog(ui::WindowModel& model, int control, int width, Limit limit, bool redraw)
    : m_model(model), m_control(control), m_width(width), m_limit(limit), m_redraw(redraw) {}

std::string EventLog::timeStamp(std::time_t when) {
    // A busy log writes many lines a second, all with the same text: it is made
    // once a second (per thread, as each tool logs on its own).
    thread_local std::time_t cachedWhen = -1;
    thread_local std::string cached;
    if (when != cachedWhen) {
        std::tm local{};
        localtime_r(&when, &local);
        char buf[32];
        std::strftime(buf, sizeof buf, "%d.%m.%Y %H:%M:%S", &local);
        cached = buf;
        cachedWhen = when;
    }
    return cached;
}

void EventLog::append(const std::string& first, const std::string& line) {
    const std::string cut = text::trimRight(text::cut(text::trimRight(line), m_width));
    m_model.appendRow(m_control, {first, cut});
    if (m_redraw) m_model.redraw();
}

void EventLog::add(const std::string& line) {
    if (m_limit == Limit::EmptyBefore250 && size() >= 250) m_model.clearList(m_control);
    append(timeStamp(std::time(nullptr)), line);
    const std::size_t n = size();
    if ((m_limit == Limit::EmptyAt250 && n >= 250) || (m_limit == Limit::EmptyAt300 && n >= 300))
        m_model.clearList(m_control);
}

void EventLog::addDirect(const std::string& line) { append(timeStamp(std::time(nullptr)), line); }

void EventLog::addMarked(const std::string& mark, const std::string& line) { append(mark, line); }

void EventLog::clear() { m_model.clearList(m_control); }

std::size_t EventLog::size() const { return m_model.rowCount(m_control); }

} // namespace net
