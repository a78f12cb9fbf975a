// The reachable feeds along a grid: the highest acceleration-limited feed, by forward and
// backward passes through the phase plane (the classical construction of time-optimal motion
// along a path under acceleration limits). The jerk pass starts from it: it bounds every
// jerk-limited feed from above.
#pragma once

#include <vector>

#include "plan/feed_bounds.hpp"
#include "plan/path_grid.hpp"

namespace nurbs_interp {

// The path accelerations a node allows at the square feed x: [lo, hi], empty when lo > hi.
struct acc_range {
    double lo = -HUGE_VAL, hi = HUGE_VAL;
};

// Returns the path accelerations that keep every axis's C_s,k a + C_ss,k x within `scale` of its
// acceleration limit at frame f, and |a| within the path acceleration limit.
acc_range acc_range_at(const path_frame &f, const feed_bounds &b, double x, double scale);

// Returns the highest x = v^2 at frame f for which acc_range_at is not empty, at most `cap`.
double acc_feed_cap(const path_frame &f, const feed_bounds &b, double cap, double scale);

// Returns x = v^2 at each node: from x_start at the first node, the highest feed that forward
// Euler steps x_{i+1} = x_i + 2 h a_hi and backward steps x_i = x_{i+1} - 2 h a_lo keep within
// the caps `cap` (x per node) and the acceleration limits, ending at x_end.
std::vector<double> reachable_feed(const std::vector<path_node> &nodes, const feed_bounds &b,
                                   const std::vector<double> &cap, double x_start, double x_end,
                                   double scale);

} // namespace nurbs_interp
