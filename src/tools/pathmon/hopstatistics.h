#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>

namespace tools {

// What one probe to one hop came to: a reply after `rttMs`, or nothing within its
// time-out.
struct HopSample {
    bool lost = false;
    float rttMs = 0; // a float keeps a sample at 24 bytes: a hop keeps thousands
    std::uint32_t from = 0; // who answered, network byte order
    double time = 0;        // when the probe went out, seconds since the epoch
};

// The figures of a hop's list row, over the samples the hop keeps.
struct HopFigures {
    std::size_t sent = 0; // probes settled: answered or timed out
    std::size_t replies = 0;
    double lossPercent = 0;
    double last = 0, mean = 0, best = 0, worst = 0;
    double stdDev = 0; // sample standard deviation of the replies (0 below two)
    double jitter = 0; // mean absolute difference between consecutive replies
};

// Samples in the order they were taken (the oldest first). Only answered
// samples count for the times; `from`, when not 0, keeps to one address's replies
// (a hop answered from several, one row each).
HopFigures hopFigures(const std::deque<HopSample>& samples, std::uint32_t from = 0);

} // namespace tools
