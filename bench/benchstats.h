#pragma once
// What every benchmark prints of its alternated rounds: the median, with the lowest
// and the highest as its spread, since one round on a shared machine says little.
#include <algorithm>
#include <chrono>
#include <vector>

namespace bench {

struct Spread {
    double median, low, high;
};

inline Spread spread(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.front(), values.back()};
}

inline double median(std::vector<double> values) {
    return spread(std::move(values)).median;
}

// Milliseconds from `start` to now on the steady clock.
inline double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

} // namespace bench
