// Why the events are written with nlohmann-json rather than Qt's QJsonDocument:
// the UDP server's two events per datagram (its log row and its caption) encoded
// as the program writes them (EventJson, nlohmann-json, one object per kind
// reused) against the same objects made with QJsonObject and QJsonDocument, and
// against the text lines. Rounds alternate; medians and their spread.
#include "benchstats.h"
#include "ui/console/eventtext.h"
#include "ui/eventjson.h"

#include "platform/cp1250.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using bench::median;

constexpr int kEvents = 100000;
constexpr int kRounds = 9;

const std::vector<std::string> kCells = {
    "07.12.2026 16:32:43", "127.0.0.1:41000 benchmark datagram of a typical test line"};
const std::string kCaption = "UDP - vm:5000 (Hit:1234)";

ui::Event rowEvent() {
    ui::Event e{ui::Event::Kind::Row, "WS_Udp#1"};
    e.control = 1;
    e.cells = &kCells;
    return e;
}

ui::Event captionEvent() {
    ui::Event e{ui::Event::Kind::Caption, "WS_Udp#1"};
    e.text = kCaption;
    return e;
}

void text(std::string& out) {
    ui::EventText::append(out, rowEvent());
    ui::EventText::append(out, captionEvent());
}

void ours(std::string& out) {
    const auto now = ui::EventJson::Clock::now();
    ui::EventJson::append(out, rowEvent(), now);
    ui::EventJson::append(out, captionEvent(), now);
}

QString utf16(const std::string& cp1250) {
    return QString::fromUtf8(cp1250::toUtf8(cp1250));
}

void qt(std::string& out) {
    std::string ts;
    ui::EventJson::appendTime(ts, ui::EventJson::Clock::now());
    const QString time = QString::fromLatin1(ts.data(), static_cast<qsizetype>(ts.size()));
    QJsonArray cells;
    for (const auto& c : kCells)
        cells.append(utf16(c));
    const QJsonObject row{{"ts", time},     {"window", "WS_Udp#1"}, {"proc", "WS_Udp"},
                          {"event", "row"}, {"control", 1},         {"cells", cells}};
    const QJsonObject caption{{"ts", time},
                              {"window", "WS_Udp#1"},
                              {"proc", "WS_Udp"},
                              {"event", "caption"},
                              {"caption", utf16(kCaption)}};
    for (const auto& o : {row, caption}) {
        const QByteArray json = QJsonDocument(o).toJson(QJsonDocument::Compact);
        out.append(json.constData(), static_cast<std::size_t>(json.size()));
    }
}

// Nanoseconds per pair of events.
double timed(const std::function<void(std::string&)>& encode) {
    std::string out;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kEvents; ++i) {
        out.clear();
        encode(out);
    }
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
               .count() /
           kEvents;
}

} // namespace

int main() {
    std::vector<double> textNs, oursNs, qtNs, qtRatio;
    for (int round = 0; round < kRounds; ++round) {
        textNs.push_back(timed(text));
        oursNs.push_back(timed(ours));
        qtNs.push_back(timed(qt));
        qtRatio.push_back(qtNs.back() / oursNs.back());
    }
    std::printf("eventjson: a log row and a caption, %d pairs a round, %d rounds\n", kEvents,
                kRounds);
    std::printf("  text lines:                  %6.0f ns a pair\n", median(textNs));
    std::printf("  EventJson (nlohmann-json):   %6.0f ns a pair\n", median(oursNs));
    std::printf("  QJsonObject + QJsonDocument: %6.0f ns a pair\n", median(qtNs));
    std::printf("  Qt / ours: median %.2f, spread %.2f to %.2f\n", median(qtRatio),
                *std::min_element(qtRatio.begin(), qtRatio.end()),
                *std::max_element(qtRatio.begin(), qtRatio.end()));
    return 0;
}
