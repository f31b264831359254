// How hits become notices: runs of hits against the clock, each notice with the
// time it is shown, and every hit told once.
#include "tools/blockers/hitnotices.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>

using tools::HitNotices;
using namespace std::chrono;

namespace {

// `count` hits from `at` ms, `step` ms apart, to blocker 0 (TCP) or 1 (UDP),
// cycling through the ports and the peers 10.0.0.1, 10.0.0.2, ...
struct Hits {
    int at, count, step, blocker;
    std::vector<std::uint16_t> ports;
    int peers = 1;
};

// Plays the hits in time order as a blocker does, taking each summary at its time.
std::vector<std::string> play(const std::vector<Hits>& runs) {
    std::multimap<int, std::pair<const Hits*, int>> timeline;
    for (const Hits& r : runs)
        for (int i = 0; i < r.count; ++i)
            timeline.emplace(r.at + i * r.step, std::pair{&r, i});
    HitNotices notices[2] = {HitNotices("TCP blocker"), HitNotices("UDP blocker")};
    const HitNotices::Clock::time_point start{hours(1)};
    std::vector<std::string> shown;
    auto summariesUntil = [&](int until) {
        for (HitNotices& n : notices)
            for (auto due = n.due(); due && *due <= start + milliseconds(until); due = n.due())
                shown.push_back(std::to_string(duration_cast<milliseconds>(*due - start).count()) +
                                " " + n.summary(*due).value_or("none"));
    };
    for (const auto& [at, hit] : timeline) {
        summariesUntil(at);
        const auto& [run, i] = hit;
        const std::string peer = "10.0.0." + std::to_string(1 + i % run->peers);
        if (auto told = notices[run->blocker].hit(run->ports[std::size_t(i) % run->ports.size()],
                                                  "Trap", peer, start + milliseconds(at)))
            shown.push_back(std::to_string(at) + " " + *told);
    }
    summariesUntil(1 << 30);
    return shown;
}

TEST(HitNotices, toldAtOnceThenSummarisedAtMostEveryIntervalWithNoHitLost) {
    const struct {
        const char* name;
        std::vector<Hits> runs;
        std::vector<std::string> notices; // "<ms> <text>"
    } cases[] = {
        {"burst of 50 in 5 s, one more 15 s on",
         {{0, 50, 100, 0, {80}}, {15000, 1, 0, 0, {80}}},
         {"0 TCP blocker: port 80 (Trap) from 10.0.0.1",
          "10000 TCP blocker: 49 more hits on 1 port from 1 peer",
          "15000 TCP blocker: port 80 (Trap) from 10.0.0.1"}},
        {"hits going on: one summary every 10 s",
         {{0, 26, 1000, 0, {80, 443, 22}, 2}},
         {"0 TCP blocker: port 80 (Trap) from 10.0.0.1",
          "10000 TCP blocker: 9 more hits on 3 ports from 2 peers",
          "20000 TCP blocker: 10 more hits on 3 ports from 2 peers",
          "30000 TCP blocker: 6 more hits on 3 ports from 2 peers"}},
        {"two blockers limit on their own",
         {{0, 3, 10, 0, {80}}, {5, 2, 10, 1, {53}}},
         {"0 TCP blocker: port 80 (Trap) from 10.0.0.1",
          "5 UDP blocker: port 53 (Trap) from 10.0.0.1",
          "10000 TCP blocker: 2 more hits on 1 port from 1 peer",
          "10005 UDP blocker: 1 more hit on 1 port from 1 peer"}},
    };
    const std::regex more(R"(: (\d+) more hit)");
    for (const auto& c : cases) {
        const std::vector<std::string> shown = play(c.runs);
        EXPECT_EQ(shown, c.notices) << c.name;
        int told = 0, hits = 0;
        for (const std::string& s : shown) {
            std::smatch m;
            told += std::regex_search(s, m, more) ? std::stoi(m[1]) : 1;
        }
        for (const Hits& r : c.runs)
            hits += r.count;
        EXPECT_EQ(told, hits) << c.name;
    }
}

} // namespace
