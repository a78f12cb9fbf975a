// The time-optimal planner: a rest-to-rest feed profile along a curve that keeps every axis's
// velocity, acceleration and jerk, the path limits and the geometric caps within bounds, as
// fast as they allow, with a rest at every corner.
//
// Per stretch between two rests: the grid in arc length (path_grid), the reachable feeds and
// the jerk pass on it (reachable, jerk_pass: sequential linear programmes), short S-curves of
// constant path jerk from and into rest (where the grid's feed, a quadratic in s for v^2, cannot
// follow v ~ s^(2/3)), then the samples the driver travels (feed_sampler). Each limit is planned
// at (1 - margin) of itself; the whole profile is then checked sample by sample against the
// limits themselves, and planned again with twice the margin when a sample is over (between the
// grid's nodes the limits are met only to the grid's resolution).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "io/feed_profile.hpp"
#include "plan/arc_length.hpp"
#include "plan/feed_bounds.hpp"
#include "plan/path_grid.hpp"

namespace nurbs_interp {

struct optimal_options {
    double margin = 0.005;    // first margin on every acceleration and jerk limit
    int max_tries = 5;        // plans, the margin doubling each time
    double rest_share = 0.05; // the S-curve from rest ends at this share of the rest acceleration
    double realised_share = 0.05; // see jerk_pass_options::realised_share
    double slack = 1e-9;          // relative excess a sample may show in the check
    grid_spacing spacing; // max_time 0: a quarter of the smallest acceleration over jerk limit
};

// What the planner did.
struct optimal_stats {
    std::size_t nodes = 0;       // grid nodes, all stretches
    std::size_t stretches = 0;   // rest to rest
    int passes = 0;              // linear programmes solved (last try)
    int tries = 0;               // plans made (the margin doubled after each that failed)
    double margin = 0;           // the margin of the plan kept
    double acc_limited_time = 0; // s: the acceleration-limited time on the grids (a bound below)
    std::vector<double> sharp;   // arc lengths of the rests away from knots (cusps, reversals)
    std::size_t unrealised = 0;  // stretches planned without the realised motion's rows
    std::size_t unconverged = 0; // stretches whose passes stopped where the solver found no
                                 // answer (the last whole pass's feed kept)
};

// The worst ratio of a profile's samples to a plan's limits, which and where.
struct bound_check {
    double ratio = 0;
    std::string limit; // "X jerk", "path acceleration", "chord error", ...
    std::size_t sample = 0;
    double s = 0; // the sample's arc length, mm
};

// Returns the worst sample of `p` (period b.machine.period, sample k at the driver's travel
// s_k) against `b`: every axis quantity (compute_axial_vaj at s_k, and the step at every
// curvature jump a sample crosses), the feed against the cruise feed and the geometric caps at
// s_k, |a| and |j| against the path limits.
bound_check check_profile_bounds(const feed_profile &p, const arc_table &arc, const feed_bounds &b);

// Returns the profile from rest at 0 to rest at `target` (<= the curve's length), resting at
// each of `stops` (the parameters of corners, ascending; those inside (0, target) count) and
// wherever the path turns sharply away from a knot (a cusp or a reversal, where |C'| vanishes:
// the grid's tangent turns by more than FEED_CAP_SHARP_TURN_DEG between two nodes as close as it
// gets). `progress`, when given,
// is called with the share done. Throws plan_error when no plan within the limits is found (the
// message says why) or when it would pass the sample or grid bounds.
feed_profile plan_optimal(const arc_table &arc, const feed_bounds &b,
                          const std::vector<double> &stops, double target,
                          const optimal_options &opt = {}, optimal_stats *stats = nullptr,
                          const std::function<void(double)> &progress = {});

} // namespace nurbs_interp
