#include "ui/console/consoleoutput.h"

#include "platform/cp1250.h"
#include "ui/console/eventtext.h"
#include "ui/eventfile.h"
#include "ui/eventjson.h"
#include "ui/eventqueue.h"
#include "ui/toolwindow.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace ui {
namespace {

// Gathered lines are written when their batch is over; these bound how many bytes
// and how much time a long batch (a handler that keeps printing) may hold back.
// The events file's writer's lines are bounded by the same number of bytes.
constexpr std::size_t kPendingLimit = 64 * 1024;
constexpr auto kPendingAge = std::chrono::milliseconds(50);

// Printable ASCII but the backslash: copied as it stands.
bool plain(unsigned char c) {
    return c >= 0x20 && c < 0x7F && c != '\\';
}

// True when one of the eight bytes of `w` is not plain: eight bytes are checked at
// once, so ordinary text is copied in runs without a look at each character.
bool anyNotPlain(std::uint64_t w) {
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    constexpr std::uint64_t highs = 0x8080808080808080ULL;
    const auto hasZero = [](std::uint64_t v) { return ((v - ones) & ~v & highs) != 0; };
    const bool below20 = ((w - ones * 0x20) & ~w & highs) != 0;
    return (w & highs) != 0 || below20 || hasZero(w ^ (ones * 0x7F)) ||
           hasZero(w ^ (ones * std::uint64_t('\\')));
}

void appendHex(std::string& out, unsigned char c) {
    static const char* hex = "0123456789ABCDEF";
    const char escaped[4] = {'\\', 'x', hex[c >> 4], hex[c & 15]};
    out.append(escaped, 4);
}

void appendSpecial(std::string& out, unsigned char c) {
    switch (c) {
    case '\\':
        out += "\\\\";
        return;
    case '\r':
        out += "\\r";
        return;
    case '\n':
        out += "\\n";
        return;
    case '\t':
        out += "\\t";
        return;
    default:
        break;
    }
    if (c < 0x80) {
        appendHex(out, c);
        return;
    }
    const char32_t cp = cp1250::toUnicode(static_cast<char>(c));
    // The bytes Windows-1250 leaves unassigned come out as C1 controls (U+0080 to
    // U+009F), which terminals act on: escaped like the other controls.
    if (cp < 0xA0) {
        appendHex(out, c);
    } else if (cp < 0x800) {
        const char utf8[2] = {static_cast<char>(0xC0 | (cp >> 6)),
                              static_cast<char>(0x80 | (cp & 0x3F))};
        out.append(utf8, 2);
    } else {
        const char utf8[3] = {static_cast<char>(0xE0 | (cp >> 12)),
                              static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                              static_cast<char>(0x80 | (cp & 0x3F))};
        out.append(utf8, 3);
    }
}

} // namespace

ConsoleOutput::ConsoleOutput(std::FILE* out) : m_out(out) {}

ConsoleOutput::~ConsoleOutput() {
    flush();
    m_queue.reset();
}

// Both are set before any window opens; what is on its way is written first.
void ConsoleOutput::setJson(bool json) {
    flush();
    std::lock_guard lock(m_mutex);
    m_json = json;
}

void ConsoleOutput::setEventFile(EventFile* file) {
    flush();
    m_file = file;
    if (m_queue || !m_file) return;
    m_queue = std::make_unique<EventQueue>(
        [this](const Event& event, EventJson::Clock::time_point when) {
            EventJson::append(m_encoded, event, when);
            m_encoded += '\n';
            if (m_encoded.size() >= kPendingLimit) writeEncoded();
        },
        [this] { writeEncoded(); });
}

// On the events file's writer thread.
void ConsoleOutput::writeEncoded() {
    if (m_encoded.empty()) return;
    if (m_file) m_file->write(m_encoded);
    m_encoded.clear();
}

void ConsoleOutput::appendEscaped(std::string& out, std::string_view in) {
    const char* data = in.data();
    const std::size_t n = in.size();
    std::size_t i = 0;
    while (i < n) {
        std::size_t run = i;
        for (std::uint64_t w; run + 8 <= n; run += 8) {
            std::memcpy(&w, data + run, 8);
            if (anyNotPlain(w)) break;
        }
        while (run < n && plain(static_cast<unsigned char>(data[run])))
            ++run;
        out.append(data + i, run - i);
        if (run == n) break;
        appendSpecial(out, static_cast<unsigned char>(data[run]));
        i = run + 1;
    }
}

std::string ConsoleOutput::escape(const std::string& in) {
    std::string out;
    out.reserve(in.size());
    appendEscaped(out, in);
    return out;
}

void ConsoleOutput::report(const Event& event) {
    // The moment it happened, on stdout and in the events file alike.
    const auto when = EventJson::Clock::now();
    // The line is made before the lock, so windows printing at once wait only for
    // each other's copying. A script's `waitfor` reads the text lines, JSON or not.
    // Each thread keeps its buffers: no allocation once they have grown, but not the
    // room a rare long line (a box's text) took.
    thread_local std::string line, object;
    const auto reuse = [](std::string& s) {
        if (s.capacity() > kPendingLimit) std::string().swap(s);
        s.clear();
    };
    const bool history = m_keepHistory;
    if (!m_json || history) {
        reuse(line);
        EventText::append(line, event);
    }
    if (m_json) {
        reuse(object);
        EventJson::append(object, event, when);
        object += '\n';
    }
    bool wake = false;
    {
        std::lock_guard lock(m_mutex);
        // Queued under the lock that orders the lines, so the events file has the
        // events in the order stdout has them.
        if (m_file) m_queue->push(event, when);
        const auto now = std::chrono::steady_clock::now();
        if (m_pending.empty()) m_pendingSince = now;
        if (m_json)
            m_pending.append(object);
        else
            m_pending.append(line).append(1, '\n');
        if (!ToolWindow::inBatch() || m_pending.size() >= kPendingLimit ||
            now - m_pendingSince >= kPendingAge)
            writePending();
        if (history) {
            for (const Wait* wait : m_waits)
                wake = wake ||
                       (wait->window == event.window && line.find(wait->text) != std::string::npos);
            History& kept = m_history[std::string(event.window)];
            auto& lines = kept.lines;
            lines.push_back(line);
            // A window nobody waits on must not grow without end (a trap running
            // for hours): its oldest unread lines go first.
            constexpr std::size_t kMaxLines = 200000, kDropped = kMaxLines / 2;
            if (lines.size() > kMaxLines) {
                lines.erase(lines.begin(), lines.begin() + kDropped);
                kept.searched = kept.searched > kDropped ? kept.searched - kDropped : 0;
            }
        }
    }
    if (wake) m_printed.notify_all();
}

void ConsoleOutput::writePending() {
    if (m_pending.empty()) return;
    std::fwrite(m_pending.data(), 1, m_pending.size(), m_out);
    std::fflush(m_out);
    m_pending.clear();
}

void ConsoleOutput::flushBatch() {
    std::lock_guard lock(m_mutex);
    writePending();
}

void ConsoleOutput::flush() {
    flushBatch();
    if (m_queue) m_queue->drain();
}

void ConsoleOutput::keepHistory(bool keep) {
    std::lock_guard lock(m_mutex);
    m_keepHistory = keep;
    if (!keep) m_history.clear();
}

bool ConsoleOutput::waitFor(const std::string& window, const std::string& text,
                            std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(m_mutex);
    // Looks at the lines not yet looked at for `text`; the next wait on this window
    // looks only after the line found.
    const auto found = [&] {
        History& history = m_history[window];
        if (history.searchedFor != text) {
            history.searchedFor = text;
            history.searched = 0;
        }
        auto& lines = history.lines;
        for (; history.searched < lines.size(); ++history.searched) {
            if (lines[history.searched].find(text) != std::string::npos) {
                lines.erase(lines.begin(), lines.begin() + static_cast<long>(history.searched) + 1);
                history.searched = 0;
                return true;
            }
        }
        return false;
    };
    if (found()) return true;
    const Wait wait{window, text};
    m_waits.push_back(&wait);
    bool seen = false;
    while (!seen && m_printed.wait_until(lock, deadline) != std::cv_status::timeout)
        seen = found();
    m_waits.erase(std::find(m_waits.begin(), m_waits.end(), &wait));
    // One last look at what arrived with the deadline.
    return seen || found();
}

} // namespace ui
