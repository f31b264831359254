// When a SYN becomes a half-open probe: scripted SYNs, accepts and clock ticks.
#include "tools/blockers/halfopentracker.h"

#include <gtest/gtest.h>

#include <set>

using tools::HalfOpenTracker;
using Attempt = HalfOpenTracker::Attempt;

namespace tools {
void PrintTo(const HalfOpenTracker::Attempt& a, std::ostream* out) {
    *out << std::hex << a.peer << std::dec << ":" << a.peerPort << "->" << a.localPort;
}
} // namespace tools

namespace {

// Two attempts on port 80 from one peer, one on 443 from another.
const Attempt A{0x0500000a, 40000, 80};
const Attempt B{0x0500000a, 40001, 80};
const Attempt C{0x0600000a, 40000, 443};

enum class Op { Syn, Accept, Expire };

struct Step {
    Op op;
    Attempt attempt{};                 // Syn, Accept
    int ms = 0;                        // Syn, Expire: the clock
    std::vector<Attempt> told{};       // Syn: given up at once; Expire: the probes, in order
    std::set<std::uint16_t> waiting{}; // Expire: ports with a connection waiting
};

Step syn(Attempt a, int ms, std::vector<Attempt> givenUp = {}) {
    return {Op::Syn, a, ms, std::move(givenUp)};
}
Step accept(Attempt a) {
    return {Op::Accept, a};
}
Step expire(int ms, std::vector<Attempt> probes, std::set<std::uint16_t> waiting = {}) {
    return {Op::Expire, {}, ms, std::move(probes), std::move(waiting)};
}

struct Script {
    const char* name;
    std::size_t capacity;
    std::vector<Step> steps;
};

const Script kScripts[] = {
    {"a SYN reset or left unanswered is a probe once its second is over",
     16,
     {syn(A, 0), expire(999, {}), expire(1000, {A}), expire(5000, {})}},
    {"an accepted connection is never a probe", 16, {syn(A, 0), accept(A), expire(2000, {})}},
    {"a repeated SYN is the same attempt, timed from the first",
     16,
     {syn(A, 0), syn(A, 500), expire(1000, {A}), expire(1600, {})}},
    {"the same peer and ports after the probe was told are a new probe",
     16,
     {syn(A, 0), expire(1000, {A}), syn(A, 1200), expire(2199, {}), expire(2200, {A})}},
    {"a connection accepted after its probe was told is not told again",
     16,
     {syn(A, 0), expire(1000, {A}), accept(A), expire(3000, {})}},
    {"probes come oldest first, whatever their port",
     16,
     {syn(A, 0), syn(C, 100), syn(B, 200), expire(1150, {A, C}), expire(1200, {B})}},
    {"a probe waits while a connection to its port waits to be accepted",
     16,
     {syn(A, 0), syn(C, 0), expire(1000, {C}, {80}), expire(1500, {}, {80}), expire(1600, {A})}},
    {"a held attempt whose connection is accepted is no probe",
     16,
     {syn(A, 0), syn(B, 0), expire(1000, {}, {80}), accept(A), expire(1100, {B})}},
    {"a full table gives up its oldest attempt at once",
     2,
     {syn(A, 0), syn(B, 10), syn(C, 20, {A}), expire(1100, {B, C})}},
    {"accepted attempts leave room in the table",
     2,
     {syn(A, 0), accept(A), syn(B, 10), syn(C, 20), expire(1100, {B, C})}},
    {"a full table of held attempts gives up the oldest held one",
     2,
     {syn(A, 0), syn(B, 5), expire(1000, {}, {80}), syn(C, 1100, {A}), expire(2100, {B, C})}},
};

void PrintTo(const Script& script, std::ostream* out) {
    *out << script.name;
}

class Scripted : public ::testing::TestWithParam<Script> {};

} // namespace

TEST_P(Scripted, ProbesAreToldAsTheScriptSays) {
    const Script& script = GetParam();
    HalfOpenTracker tracker(std::chrono::seconds(1), script.capacity);
    const auto t0 = HalfOpenTracker::Clock::now();
    auto at = [&](int ms) { return t0 + std::chrono::milliseconds(ms); };
    for (std::size_t i = 0; i < script.steps.size(); ++i) {
        const Step& s = script.steps[i];
        switch (s.op) {
        case Op::Syn: {
            const auto givenUp = tracker.syn(s.attempt, at(s.ms));
            EXPECT_EQ(givenUp ? std::vector<Attempt>{*givenUp} : std::vector<Attempt>{}, s.told)
                << "step " << i;
            break;
        }
        case Op::Accept:
            tracker.accepted(s.attempt);
            break;
        case Op::Expire: {
            std::set<std::uint16_t> asked;
            const auto probes = tracker.expire(at(s.ms), [&](std::uint16_t port) {
                // Asked once per port and call: the question costs a system call.
                EXPECT_TRUE(asked.insert(port).second) << "step " << i << " port " << port;
                return s.waiting.count(port) != 0;
            });
            EXPECT_EQ(probes, s.told) << "step " << i;
            break;
        }
        }
    }
    EXPECT_EQ(tracker.pending(), 0u) << "every attempt settled by the end";
}

INSTANTIATE_TEST_SUITE_P(HalfOpenTracker, Scripted, ::testing::ValuesIn(kScripts),
                         [](const auto& info) { return std::to_string(info.index); });
