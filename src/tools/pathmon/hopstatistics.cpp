#include "tools/pathmon/hopstatistics.h"

#include <algorithm>
#include <cmath>

namespace tools {

HopFigures hopFigures(const std::deque<HopSample>& samples, std::uint32_t from) {
    HopFigures f;
    double sum = 0;
    double previous = 0;
    double jitterSum = 0;
    for (const HopSample& s : samples) {
        if (from != 0 && (s.lost || s.from != from)) continue;
        ++f.sent;
        if (s.lost) continue;
        const double t = s.rttMs;
        if (f.replies == 0) {
            f.best = f.worst = t;
        } else {
            f.best = std::min(f.best, t);
            f.worst = std::max(f.worst, t);
            jitterSum += std::fabs(t - previous);
        }
        ++f.replies;
        sum += t;
        previous = f.last = t;
    }
    if (f.sent > 0)
        f.lossPercent =
            100.0 * static_cast<double>(f.sent - f.replies) / static_cast<double>(f.sent);
    if (f.replies == 0) return f;
    f.mean = sum / static_cast<double>(f.replies);
    if (f.replies > 1) {
        // A second pass over the mean, not the sum of squares, which loses the
        // digits that matter when the times are close together.
        double squares = 0;
        for (const HopSample& s : samples)
            if (!s.lost && (from == 0 || s.from == from))
                squares += (s.rttMs - f.mean) * (s.rttMs - f.mean);
        f.stdDev = std::sqrt(squares / static_cast<double>(f.replies - 1));
        f.jitter = jitterSum / static_cast<double>(f.replies - 1);
    }
    return f;
}

} // namespace tools
