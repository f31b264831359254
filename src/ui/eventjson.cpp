#include "ui/eventjson.h"

#include "platform/cp1250.h"
#include "ui/messagebox.h"
#include "ui/windowmodel.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

namespace ui {
namespace {

// Members stay in the order they are put, so every object starts with its time,
// window and name, as a person reading the file expects.
using Json = nlohmann::ordered_json;
using Kind = Event::Kind;

// Windows-1250 into a string the object already holds: a busy window reports
// thousands of events a second, and each thread keeps one object per kind whose
// members are overwritten in place rather than made and freed every time.
void convert(std::string& out, std::string_view cp1250) {
    out.clear();
    std::size_t i = 0;
    while (i < cp1250.size()) {
        std::size_t run = i;
        // ASCII is most of it: eight bytes at a time while none has its high bit.
        for (std::uint64_t w; run + 8 <= cp1250.size(); run += 8) {
            std::memcpy(&w, cp1250.data() + run, 8);
            if ((w & 0x8080808080808080ULL) != 0) break;
        }
        while (run < cp1250.size() && static_cast<unsigned char>(cp1250[run]) < 0x80)
            ++run;
        out.append(cp1250.data() + i, run - i);
        if (run == cp1250.size()) break;
        out += cp1250::toUtf8(cp1250.substr(run, 1));
        i = run + 1;
    }
}

// A kind's object, whose members are put in the same order every time: after its
// first event each member is found where the previous one ended, rather than
// searched for among all of them.
class Members {
public:
    // The library's ordered map is a vector of members, reached here by place.
    explicit Members(Json& object) : m_members(object.get_ref<Json::object_t&>()) {}
    Json& operator[](std::string_view key) {
        if (m_next < m_members.size() && m_members[m_next].first == key)
            return m_members[m_next++].second;
        for (m_next = 0; m_next < m_members.size(); ++m_next)
            if (m_members[m_next].first == key) return m_members[m_next++].second;
        m_members.emplace_back(std::string(key), nullptr);
        ++m_next;
        return m_members.back().second;
    }

private:
    Json::object_t::Container& m_members;
    std::size_t m_next = 0;
};

std::string& text(Members& j, std::string_view key) {
    Json& member = j[key];
    if (!member.is_string()) member = std::string();
    return member.get_ref<std::string&>();
}
void put(Members& j, std::string_view key, std::string_view cp1250) {
    convert(text(j, key), cp1250);
}
void putUtf8(Members& j, std::string_view key, std::string_view utf8) {
    text(j, key).assign(utf8);
}
void putList(Members& j, std::string_view key, const std::vector<std::string>* cells) {
    Json& list = j[key];
    if (!list.is_array()) list = Json::array();
    const std::size_t n = cells ? cells->size() : 0;
    auto& items = list.get_ref<Json::array_t&>();
    items.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (!items[i].is_string()) items[i] = std::string();
        convert(items[i].get_ref<std::string&>(), (*cells)[i]);
    }
}

// One function per kind: the members it carries beyond time, window and name.
void nothing(Members&, const Event&) {}
void caption(Members& j, const Event& e) {
    put(j, "caption", e.text);
}
void control(Members& j, const Event& e) {
    j["control"] = e.control;
}
void field(Members& j, const Event& e) {
    control(j, e);
    put(j, "text", e.text);
}
void picture(Members& j, const Event& e) {
    control(j, e);
    put(j, "picture", e.text);
}
void check(Members& j, const Event& e) {
    control(j, e);
    j["checked"] = e.flag;
}
void row(Members& j, const Event& e) {
    control(j, e);
    putList(j, "cells", e.cells);
}
void drop(Members& j, const Event& e) {
    control(j, e);
    j["dropped"] = e.number;
    put(j, "first", e.text);
}
void heading(Members& j, const Event& e) {
    control(j, e);
    j["column"] = e.number;
    put(j, "heading", e.text);
}
void cursor(Members& j, const Event& e) {
    putUtf8(j, "cursor", e.flag ? "wait" : "normal");
}
void box(Members& j, const Event& e) {
    put(j, "caption", e.text);
    putUtf8(j, "icon", e.word);
    put(j, "text", e.detail);
    putList(j, "buttons", e.cells);
}
void answer(Members& j, const Event& e) {
    putUtf8(j, "answer", e.word);
}
void menu(Members& j, const Event& e) {
    const std::vector<std::string> entries = popupEntries(std::string(e.text));
    putList(j, "items", &entries);
}
void chosen(Members& j, const Event& e) {
    j["chosen"] = e.number;
}
void cue(Members& j, const Event& e) {
    put(j, "sound", e.text);
}
void refused(Members& j, const Event& e) {
    putUtf8(j, "command", e.word);
    control(j, e);
}
void timeout(Members& j, const Event& e) {
    putUtf8(j, "command", "waitfor");
    putUtf8(j, "text", e.word);
}
void saved(Members& j, const Event& e) {
    control(j, e);
    j["rows"] = e.number;
    putUtf8(j, "file", e.word);
}
void dumpCaption(Members& j, const Event& e) {
    putUtf8(j, "part", "caption");
    caption(j, e);
}
void dumpControl(Members& j, const Event& e) {
    putUtf8(j, "part", "control");
    control(j, e);
    putUtf8(j, "kind", e.word);
    put(j, "label", e.text);
    j["enabled"] = e.flag;
    put(j, "value", e.detail);
}
void dumpRow(Members& j, const Event& e) {
    putUtf8(j, "part", "row");
    row(j, e);
}
void dumpZone(Members& j, const Event& e) {
    putUtf8(j, "part", "zone");
    j["zone"] = e.number;
    put(j, "text", e.text);
}
void dumpMenu(Members& j, const Event& e) {
    putUtf8(j, "part", "menu");
    put(j, "item", e.text);
    j["checked"] = e.flag;
}

void series(Members& j, const Event& e) {
    control(j, e);
    put(j, "series", e.text);
    j["time"] = e.sample->time;
    if (e.sample->lost)
        j["value"] = nullptr;
    else // a float's tail digits are noise: microseconds are what was measured
        j["value"] = std::round(static_cast<double>(e.sample->value) * 1000) / 1000;
    j["lost"] = e.sample->lost;
}
// The report's cells as the text line has them, and its figures as numbers: a
// cell that is no figure (a host's name) stays text.
void report(Members& j, const Event& e) {
    control(j, e);
    Json& values = j["values"];
    values = Json::array();
    for (const ReportCell& cell : *e.figures) {
        if (cell.isNumber)
            values.push_back(cell.number);
        else
            values.push_back(cp1250::toUtf8(cell.text));
    }
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

// Printable ASCII but the quote and the backslash: JSON has such a string as it
// stands, and most of what the tools report is such text. Eight bytes are looked
// at together, as a log line is mostly that.
bool plain(const std::string& s) {
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

// The object as nlohmann-json writes it, compact, member by member; a plain
// string is copied at once rather than looked at a byte at a time for UTF-8 and
// escapes, which is most of what the library's writer spends on an event.
void write(std::string& out, const Json& j) {
    if (j.is_string()) {
        const auto& s = j.get_ref<const std::string&>();
        if (!plain(s)) return dump(out, j);
        out += '"';
        out += s;
        out += '"';
    } else if (j.is_object()) {
        char separator = '{';
        for (const auto& [key, value] : j.get_ref<const Json::object_t&>()) {
            out += separator;
            separator = ',';
            out += '"';
            out += key; // the kinds' own member names, plain ASCII
            out += "\":";
            write(out, value);
        }
        out += separator == '{' ? "{}" : "}";
    } else if (j.is_array()) {
        char separator = '[';
        for (const Json& item : j.get_ref<const Json::array_t&>()) {
            out += separator;
            separator = ',';
            write(out, item);
        }
        out += separator == '[' ? "[]" : "]";
    } else {
        dump(out, j);
    }
}

} // namespace

void EventJson::appendTime(std::string& out, Clock::time_point when) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch());
    const std::time_t seconds = static_cast<std::time_t>(ms.count() / 1000);
    // A busy window reports many events a second: the date and time are made once
    // a second per thread, the milliseconds each time.
    thread_local std::time_t cachedSeconds = -1;
    thread_local char cached[24];
    if (seconds != cachedSeconds) {
        std::tm utc{};
        gmtime_r(&seconds, &utc);
        std::strftime(cached, sizeof cached, "%Y-%m-%dT%H:%M:%S", &utc);
        cachedSeconds = seconds;
    }
    const int milli = static_cast<int>(ms.count() % 1000);
    const char tail[6] = {
        '.', char('0' + milli / 100), char('0' + milli / 10 % 10), char('0' + milli % 10), 'Z', 0};
    out.append(cached).append(tail);
}

void EventJson::append(std::string& out, const Event& e, Clock::time_point when) {
    const auto index = static_cast<std::size_t>(e.kind);
    const KindEntry& kind = kKinds[index];
    thread_local Json objects[std::size(kKinds)];
    Json& object = objects[index];
    if (!object.is_object()) object = Json::object();
    Members j(object);
    std::string& time = text(j, "ts");
    time.clear();
    appendTime(time, when);
    putUtf8(j, "window", e.window);
    putUtf8(j, "proc", e.window.substr(0, e.window.find('#')));
    putUtf8(j, "event", kind.name);
    kind.members(j, e);
    write(out, object);
}

} // namespace ui
