#include "ui/eventjson.h"

#include "platform/cp1250.h"
#include "ui/messagebox.h"
#include "ui/windowmodel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

namespace ui {
namespace {

using Json = nlohmann::json;
using Kind = Event::Kind;

// Printable ASCII but the quote and the backslash: JSON has such a string as it
// stands, and most of what the tools report is such text. Eight bytes are looked
// at together, as a log line is mostly that.
bool plain(std::string_view s) {
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    constexpr std::uint64_t highs = 0x8080808080808080ULL;
    const auto hasZero = [](std::uint64_t v) { return ((v - ones) & ~v & highs) != 0; };
    const char* at = s.data();
    const char* end = at + s.size();
    for (std::uint64_t w; end - at >= 8; at += 8) {
        std::memcpy(&w, at, 8);
        if ((w & highs) != 0 || ((w - ones * 0x20) & ~w & highs) != 0 ||
            hasZero(w ^ (ones * 0x7F)) || hasZero(w ^ (ones * '"')) || hasZero(w ^ (ones * '\\')))
            return false;
    }
    for (; at < end; ++at) {
        const auto u = static_cast<unsigned char>(*at);
        if (u < 0x20 || u >= 0x7F || u == '"' || u == '\\') return false;
    }
    return true;
}

// A value as nlohmann-json writes it. Script words are the script's own bytes and
// may not be UTF-8: such a byte becomes U+FFFD rather than breaking the line.
void dump(std::string& out, const Json& value) {
    // The writer is made once per thread, into a buffer of its own: making one
    // costs more than a short value takes to write.
    thread_local std::string written;
    thread_local nlohmann::detail::serializer<Json> writer(
        nlohmann::detail::output_adapter<char>(written), ' ', Json::error_handler_t::replace);
    writer.dump(value, false, false, 0);
    out += written;
    written.clear();
}

// One object, written member by member in the order they are put: every object
// starts with its time, window and name, as a person reading the file expects.
// Every value is written by nlohmann-json, but for a plain string (see above),
// which is copied at once rather than looked at a byte at a time for UTF-8 and
// escapes, most of what the library's writer spends on an event; nor is an
// object of the library's built first, as there is nothing to look up in it.
class Members {
public:
    explicit Members(std::string& out) : m_out(out) {}
    ~Members() {
        if (m_whole) m_out += '}';
    }
    Members(const Members&) = delete;
    Members& operator=(const Members&) = delete;

    // Members to go after others in an object that is written elsewhere.
    static Members tail(std::string& out) { return Members(out, false); }
    // Members written before, each with its comma.
    void written(std::string_view members) {
        m_out.append(members);
        m_first = false;
    }

    // Windows-1250 text.
    void text(std::string_view key, std::string_view cp1250) {
        name(key);
        string(cp1250, true);
    }
    void utf8(std::string_view key, std::string_view utf8) {
        name(key);
        string(utf8, false);
    }
    void time(std::string_view key, EventJson::Clock::time_point when) {
        name(key);
        m_out += '"';
        EventJson::appendTime(m_out, when);
        m_out += '"';
    }
    // A number, true or false, or null.
    template <class T> void value(std::string_view key, T v) {
        name(key);
        thread_local Json scalar;
        scalar = v;
        dump(m_out, scalar);
    }
    void list(std::string_view key, const std::vector<std::string>& cp1250) {
        name(key);
        char separator = '[';
        for (const std::string& item : cp1250) {
            m_out += separator;
            separator = ',';
            string(item, true);
        }
        m_out += separator == '[' ? "[]" : "]";
    }
    // The report's cells as the text line has them, and its figures as numbers: a
    // cell that is no figure (a host's name) stays text.
    void figures(std::string_view key, const std::vector<ReportCell>& cells) {
        name(key);
        Json values = Json::array();
        for (const ReportCell& cell : cells) {
            if (cell.isNumber)
                values.push_back(cell.number);
            else
                values.push_back(cp1250::toUtf8(cell.text));
        }
        dump(m_out, values);
    }

private:
    // `,"key":` in one append: the kinds' own member names, short plain ASCII.
    void name(std::string_view key) {
        char head[40];
        std::size_t n = 0;
        head[n++] = m_first ? '{' : ',';
        head[n++] = '"';
        const std::size_t length = std::min(key.size(), sizeof head - 5);
        std::memcpy(head + n, key.data(), length);
        n += length;
        head[n++] = '"';
        head[n++] = ':';
        m_out.append(head, n);
        m_first = false;
    }
    void string(std::string_view s, bool cp1250) {
        if (plain(s)) {
            m_out += '"';
            m_out.append(s);
            m_out += '"';
            return;
        }
        thread_local Json other = std::string();
        if (cp1250)
            other.get_ref<std::string&>() = cp1250::toUtf8(s);
        else
            other.get_ref<std::string&>().assign(s);
        dump(m_out, other);
    }

    Members(std::string& out, bool whole) : m_out(out), m_whole(whole), m_first(whole) {}
    std::string& m_out;
    const bool m_whole = true;
    bool m_first = true;
};

// One function per kind: the members it carries beyond time, window and name.
void nothing(Members&, const Event&) {}
void caption(Members& j, const Event& e) {
    j.text("caption", e.text);
}
void control(Members& j, const Event& e) {
    j.value("control", e.control);
}
void field(Members& j, const Event& e) {
    control(j, e);
    j.text("text", e.text);
}
void picture(Members& j, const Event& e) {
    control(j, e);
    j.text("picture", e.text);
}
void check(Members& j, const Event& e) {
    control(j, e);
    j.value("checked", e.flag);
}
const std::vector<std::string>& cells(const Event& e) {
    static const std::vector<std::string> none;
    return e.cells ? *e.cells : none;
}
void row(Members& j, const Event& e) {
    control(j, e);
    j.list("cells", cells(e));
}
void drop(Members& j, const Event& e) {
    control(j, e);
    j.value("dropped", e.number);
    j.text("first", e.text);
}
void heading(Members& j, const Event& e) {
    control(j, e);
    j.value("column", e.number);
    j.text("heading", e.text);
}
void cursor(Members& j, const Event& e) {
    j.utf8("cursor", e.flag ? "wait" : "normal");
}
void box(Members& j, const Event& e) {
    j.text("caption", e.text);
    j.utf8("icon", e.word);
    j.text("text", e.detail);
    j.list("buttons", cells(e));
}
void answer(Members& j, const Event& e) {
    j.utf8("answer", e.word);
}
void menu(Members& j, const Event& e) {
    j.list("items", popupEntries(std::string(e.text)));
}
void chosen(Members& j, const Event& e) {
    j.value("chosen", e.number);
}
void cue(Members& j, const Event& e) {
    j.text("sound", e.text);
}
void refused(Members& j, const Event& e) {
    j.utf8("command", e.word);
    control(j, e);
}
void timeout(Members& j, const Event& e) {
    j.utf8("command", "waitfor");
    j.utf8("text", e.word);
}
void saved(Members& j, const Event& e) {
    control(j, e);
    j.value("rows", e.number);
    j.utf8("file", e.word);
}
void dumpCaption(Members& j, const Event& e) {
    j.utf8("part", "caption");
    caption(j, e);
}
void dumpControl(Members& j, const Event& e) {
    j.utf8("part", "control");
    control(j, e);
    j.utf8("kind", e.word);
    j.text("label", e.text);
    j.value("enabled", e.flag);
    j.text("value", e.detail);
}
void dumpRow(Members& j, const Event& e) {
    j.utf8("part", "row");
    row(j, e);
}
void dumpZone(Members& j, const Event& e) {
    j.utf8("part", "zone");
    j.value("zone", e.number);
    j.text("text", e.text);
}
void dumpMenu(Members& j, const Event& e) {
    j.utf8("part", "menu");
    j.text("item", e.text);
    j.value("checked", e.flag);
}

void series(Members& j, const Event& e) {
    control(j, e);
    j.text("series", e.text);
    j.value("time", e.sample->time);
    if (e.sample->lost)
        j.value("value", nullptr);
    else // a float's tail digits are noise: microseconds are what was measured
        j.value("value", std::round(static_cast<double>(e.sample->value) * 1000) / 1000);
    j.value("lost", e.sample->lost);
}
void report(Members& j, const Event& e) {
    control(j, e);
    j.figures("values", *e.figures);
}

struct KindEntry {
    const char* name;
    void (*members)(Members&, const Event&);
};

// In the order of Event::Kind.
constexpr KindEntry kKinds[] = {
    {"open", nothing},    {"closed", nothing}, {"caption", caption},  {"field", field},
    {"picture", picture}, {"enable", control}, {"disable", control},  {"check", check},
    {"row", row},         {"drop", drop},      {"clear", control},    {"list", control},
    {"heading", heading}, {"shown", nothing},  {"hidden", nothing},   {"cursor", cursor},
    {"box", box},         {"answer", answer},  {"menu", menu},        {"chosen", chosen},
    {"beep", nothing},    {"cue", cue},        {"front", nothing},    {"refused", refused},
    {"timeout", timeout}, {"saved", saved},    {"dump", dumpCaption}, {"dump", dumpControl},
    {"dump", dumpRow},    {"dump", dumpZone},  {"dump", dumpMenu},   {"series", series},
    {"report", report},   {"tip", field},
};
static_assert(std::size(kKinds) == static_cast<std::size_t>(Kind::Tip) + 1);

} // namespace

void EventJson::appendTime(std::string& out, Clock::time_point when) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch());
    const std::time_t seconds = static_cast<std::time_t>(ms.count() / 1000);
    // A busy window reports many events a second: the date and time are made once
    // a second per thread, the milliseconds each time.
    thread_local std::time_t cachedSeconds = -1;
    thread_local char cached[32];
    thread_local std::size_t cachedLength = 0;
    if (seconds != cachedSeconds) {
        std::tm utc{};
        gmtime_r(&seconds, &utc);
        cachedLength = std::strftime(cached, sizeof cached, "%Y-%m-%dT%H:%M:%S", &utc);
        cachedSeconds = seconds;
    }
    const int milli = static_cast<int>(ms.count() % 1000);
    const char tail[6] = {
        '.', char('0' + milli / 100), char('0' + milli / 10 % 10), char('0' + milli % 10), 'Z', 0};
    out.append(cached, cachedLength).append(tail, 5);
}

void EventJson::append(std::string& out, const Event& e, Clock::time_point when) {
    const KindEntry& kind = kKinds[static_cast<std::size_t>(e.kind)];
    Members j(out);
    j.time("ts", when);
    // The window, its procedure and the event's name are the same for the many
    // events of one kind a window reports: written once, then copied.
    struct Head {
        std::string window, members;
    };
    thread_local Head heads[std::size(kKinds)];
    Head& head = heads[static_cast<std::size_t>(e.kind)];
    if (head.members.empty() || head.window != e.window) {
        head.window.assign(e.window);
        head.members.clear();
        Members h = Members::tail(head.members);
        h.utf8("window", e.window);
        h.utf8("proc", e.window.substr(0, e.window.find('#')));
        h.utf8("event", kind.name);
    }
    j.written(head.members);
    kind.members(j, e);
}

} // namespace ui
