// The jerk pass of the time-optimal planner: the highest feed along a grid that keeps every
// axis's acceleration and jerk, the path limits and the caps within bounds, found by sequential
// linear programming (the LP solver is COIN-OR CLP).
//
// The unknowns are x = v^2 and its slope x' = 2a at the nodes (grid_feed.hpp). Axis k's
// acceleration C_s,k x'/2 + C_ss,k x is linear in them; its jerk
//   v (C_s,k x''/2 + 3/2 C_ss,k x' + C_sss,k x) = v L
// is linear but for the factor v = sqrt(x). The first programme holds every x under the
// acceleration-limited feed xa of the reachable pass and each |L| within J / sqrt(xa): every
// answer is within the limits. Each later one restricts |L| by the tangent of the convex
// J / sqrt(x) at the feed y^2 the last one found, 3J/(2y) - J x/(2y^3): below J / sqrt(x) for
// every x, and equal to it at y^2, so that every answer is within the limits and the last
// answer is a candidate (no pass is slower than the one before). The objective is the time
// sum h / v linearised at the last feed (a slow node weighs as much as the time it costs). The
// passes end when the time gains less than `tolerance`.
//
// The programmes run over windows of the grid, one after another: a window starts from what the
// one before it kept, keeps about `window` nodes and looks ahead at least twice the distance
// needed to brake from the reachable feed there. In the first pass a window ends at rest (so the
// next window can always take this one's way to rest), later at the last pass's feed (which
// meets its own restriction). The work grows with the path's length, not its square.
//
// The driver realises the plan in steps of one servo period, and the axis jerk it realises
// differs from the planned by terms in the period (see restrict_realised in jerk_pass.cpp); with
// realised_share > 0 they are kept within that share of each limit, so that the positions'
// third differences stay within the limits too (on tight curves this slows the plan: the
// continuous optimum may pass a near-cusp on curvature terms that cancel only at the point).
//
// Only the nodes are checked; between them the limits are met to within the grid's resolution,
// which the planner's margin and its sample-by-sample check take care of.
#pragma once

#include <string>
#include <vector>

#include "plan/feed_bounds.hpp"
#include "plan/grid_feed.hpp"
#include "plan/path_grid.hpp"

namespace nurbs_interp {

// How the passes run.
struct jerk_pass_options {
    double margin = 0.005; // every acceleration and jerk limit is planned at (1 - margin) of itself
    int max_passes = 12;
    std::size_t window = 600; // nodes a window keeps (it looks further ahead)
    // Share of each axis's jerk limit by which the motion the driver realises (moving v T per
    // period) may differ from the plan's (0: no such rows; see restrict_realised).
    double realised_share = 0.05;
    double tolerance = 1e-5; // the passes end when the time gains less than this share
};

// The result, and what it took.
struct jerk_pass_result {
    grid_feed feed;
    bool ok = false;
    std::string why;             // when not ok: what the solver said
    int passes = 0;              // programmes solved (windows times passes)
    int unsolved = 0; // 1 when the passes stopped where the solver found no answer (the last
                      // whole pass's feed is kept)
    double acc_limited_time = 0; // s, of the reachable feed (by the trapezoid rule in v)
};

// The state at one end of the stretch: x = v^2 and x' = 2a, held fixed.
struct feed_end {
    double x = 0, dx = 0;
};

// Returns the highest x = v^2 at each node that the velocity-like caps (at 1 - margin/10 of the
// feed) and the acceleration limits (at 1 - margin) allow whatever the motion around it.
std::vector<double> node_caps(const std::vector<path_node> &nodes, const feed_bounds &b,
                              double margin);

// Returns the highest jerk-limited feed over `nodes` from `start` to `end` within `b`.
jerk_pass_result jerk_pass(const std::vector<path_node> &nodes, const feed_bounds &b,
                           const feed_end &start, const feed_end &end,
                           const jerk_pass_options &opt = {});

// Returns the time to travel the grid at feed `g`, integrating 1/v exactly for v linear between
// nodes (s).
double grid_feed_time(const grid_feed &g);

} // namespace nurbs_interp
