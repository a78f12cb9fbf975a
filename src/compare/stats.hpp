// Statistics of a comparison run: feed fluctuation, chord error and cycle-time percentiles of
// one method, and the cost of reading the clock.
#pragma once

#include <cstddef>
#include <vector>

#include "compare/run.hpp"

namespace nurbs_interp {

// Returns the nearest-rank p-quantile (0 < p <= 1) of the values (reordered); NaN when empty.
double nearest_rank(std::vector<double> &values, double p);

// Fills the statistics of `r` (scored, fluct_max, fluct_rms, fluct_joints, fluct_elsewhere,
// chord_max, cycle-time percentiles) from its per-sample arrays over the steps it made.
void summarise(method_result &r);

// The cost of reading the clock: durations of back-to-back pairs of tick_count() calls.
struct timer_overhead {
    std::size_t pairs = 0;
    double median_ns = 0;
    double p99_ns = 0;
};

// Measures the timer overhead over `pairs` pairs of readings.
timer_overhead measure_timer_overhead(std::size_t pairs);

} // namespace nurbs_interp
