// The grid in arc length the time-optimal planner works on: nodes along a stretch of curve
// between two rests, each with the curve's derivatives by arc length on either side, dense
// where the geometry or the feed it allows changes and sparse where neither does.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "plan/arc_length.hpp"
#include "plan/machine.hpp" // path_frame

namespace nurbs_interp {

// A node of the grid: where it is, and the unit tangent, curvature vector and its rate on the
// side before it (`left`) and after it (`right`); they differ only at a curvature jump.
struct path_node {
    double s = 0; // arc length from the curve's start, mm
    double u = 0; // parameter
    path_frame left, right;
    bool jump = false; // a knot where C_ss jumps: both frames are used
};

// What the grid is refined for: the longest interval in arc length and in the time the
// feed the geometry allows would take over it, and how much the frame may turn or change
// across one interval.
struct grid_spacing {
    double max_length = 2.0; // mm
    double max_time = 0.01;  // s, at the feed of `feed_at`
    double max_turn = 0.03;  // rad, of the tangent
    double max_change = 0.1; // relative change of |C_ss| (and of C_sss against its scale)
    std::size_t max_nodes = 400000;
};

// The feed the limits allow at a point of frame f when nothing else changes (no path
// acceleration or jerk): sets the grid's density in time.
using steady_feed_fn = std::function<double(const path_frame &f)>;

// Returns the frame (C_s, C_ss, C_sss) at parameter u, from the right of a knot.
path_frame frame_at_param(nurbs_curve *curve, double u);

// Returns the frame at the knot u from the left (the span that ends at u); u must be a knot.
path_frame frame_left_of(nurbs_curve *curve, double u);

// A place on the curve: its arc length and its parameter (both given, so that a corner's
// parameter is its knot exactly).
struct path_place {
    double s = 0, u = 0;
};

// Returns the nodes of the stretch [a, b] of the curve of `arc`: both ends and every distinct
// knot inside are nodes (frames from both sides at a knot; `jump` where C_ss jumps), then
// intervals are halved until each meets `sp` with the steady feed of `feed`. Throws plan_error
// when the grid would need more than sp.max_nodes.
std::vector<path_node> path_grid_build(const arc_table &arc, path_place a, path_place b,
                                       const grid_spacing &sp, const steady_feed_fn &feed);

// Halves every interval [nodes[i], nodes[i+1]] for which `too_long(i)` is true (a new node at
// the parameter midway, frames from its knot span), keeping the nodes ascending. Returns the
// number of intervals halved. Throws plan_error when the grid would pass max_nodes.
std::size_t path_grid_split(const arc_table &arc, std::vector<path_node> &nodes,
                            const std::function<bool(std::size_t)> &too_long,
                            std::size_t max_nodes);

} // namespace nurbs_interp
