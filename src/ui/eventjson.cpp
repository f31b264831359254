#include "ui/eventjson.h"

#include "platform/cp1250.h"
#include "ui/messagebox.h"

#include <ctime>
#include <nlohmann/json.hpp>

namespace ui {
namespace {

// Members stay in the order they are put, so every object starts with its time,
// window and name, as a person reading the file expects.
using Json = nlohmann::ordered_json;
using Kind = Event::Kind;

std::string utf8(std::string_view cp1250) {
    return cp1250::toUtf8(cp1250);
}

Json texts(const std::vector<std::string>* cells) {
    Json list = Json::array();
    if (cells)
        for (const std::string& cell : *cells)
            list.push_back(utf8(cell));
    return list;
}

// One function per kind: the members it carries beyond time, window and name.
void nothing(Json&, const Event&) {}
void caption(Json& j, const Event& e) { j["caption"] = utf8(e.text); }
void control(Json& j, const Event& e) { j["control"] = e.control; }
void field(Json& j, const Event& e) {
    control(j, e);
    j["text"] = utf8(e.text);
}
void picture(Json& j, const Event& e) {
    control(j, e);
    j["picture"] = utf8(e.text);
}
void check(Json& j, const Event& e) {
    control(j, e);
    j["checked"] = e.flag;
}
void row(Json& j, const Event& e) {
    control(j, e);
    j["cells"] = texts(e.cells);
}
void drop(Json& j, const Event& e) {
    control(j, e);
    j["dropped"] = e.number;
    j["first"] = utf8(e.text);
}
void heading(Json& j, const Event& e) {
    control(j, e);
    j["column"] = e.number;
    j["heading"] = utf8(e.text);
}
void cursor(Json& j, const Event& e) { j["cursor"] = e.flag ? "wait" : "normal"; }
void box(Json& j, const Event& e) {
    j["caption"] = utf8(e.text);
    j["icon"] = e.word;
    j["text"] = utf8(e.detail);
    j["buttons"] = texts(e.cells);
}
void answer(Json& j, const Event& e) { j["answer"] = e.word; }
void menu(Json& j, const Event& e) {
    const std::vector<std::string> entries = popupEntries(std::string(e.text));
    j["items"] = texts(&entries);
}
void chosen(Json& j, const Event& e) { j["chosen"] = e.number; }
void cue(Json& j, const Event& e) { j["sound"] = utf8(e.text); }
void refused(Json& j, const Event& e) {
    j["command"] = e.word;
    control(j, e);
}
void timeout(Json& j, const Event& e) {
    j["command"] = "waitfor";
    j["text"] = e.word;
}
void saved(Json& j, const Event& e) {
    control(j, e);
    j["rows"] = e.number;
    j["file"] = e.word;
}
void dumpCaption(Json& j, const Event& e) {
    j["part"] = "caption";
    caption(j, e);
}
void dumpControl(Json& j, const Event& e) {
    j["part"] = "control";
    control(j, e);
    j["kind"] = e.word;
    j["label"] = utf8(e.text);
    j["enabled"] = e.flag;
    j["value"] = utf8(e.detail);
}
void dumpRow(Json& j, const Event& e) {
    j["part"] = "row";
    row(j, e);
}
void dumpZone(Json& j, const Event& e) {
    j["part"] = "zone";
    j["zone"] = e.number;
    j["text"] = utf8(e.text);
}
void dumpMenu(Json& j, const Event& e) {
    j["part"] = "menu";
    j["item"] = utf8(e.text);
    j["checked"] = e.flag;
}

struct KindEntry {
    const char* name;
    void (*members)(Json&, const Event&);
};

// In the order of Event::Kind.
constexpr KindEntry kKinds[] = {
    {"open", nothing},      {"closed", nothing},   {"caption", caption},
    {"field", field},       {"picture", picture},  {"enable", control},
    {"disable", control},   {"check", check},      {"row", row},
    {"drop", drop},         {"clear", control},    {"list", control},
    {"heading", heading},   {"shown", nothing},    {"hidden", nothing},
    {"cursor", cursor},     {"box", box},          {"answer", answer},
    {"menu", menu},         {"chosen", chosen},    {"beep", nothing},
    {"cue", cue},           {"front", nothing},    {"refused", refused},
    {"timeout", timeout},   {"saved", saved},      {"dump", dumpCaption},
    {"dump", dumpControl},  {"dump", dumpRow},     {"dump", dumpZone},
    {"dump", dumpMenu},
};
static_assert(std::size(kKinds) == static_cast<std::size_t>(Kind::DumpMenu) + 1);

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
    const char tail[6] = {'.', char('0' + milli / 100), char('0' + milli / 10 % 10),
                          char('0' + milli % 10), 'Z', 0};
    out.append(cached).append(tail);
}

void EventJson::append(std::string& out, const Event& e, Clock::time_point when) {
    const KindEntry& kind = kKinds[static_cast<std::size_t>(e.kind)];
    std::string time;
    appendTime(time, when);
    Json j;
    j["ts"] = std::move(time);
    j["window"] = e.window;
    j["proc"] = e.window.substr(0, e.window.find('#'));
    j["event"] = kind.name;
    kind.members(j, e);
    // Script words are the script's own bytes and may not be UTF-8: such a byte
    // becomes U+FFFD rather than breaking the line.
    out += j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace ui
