// A planned feed profile checked sample by sample against every limit it was planned for: the
// motion of each axis (compute_axial_vaj from the curve's derivatives at the sample's point and
// its feed, acceleration and jerk), and which limit binds over how much of the path.
#pragma once

#include <string>
#include <vector>

#include "plan/arc_length.hpp"
#include "plan/feed_bounds.hpp"
#include "plan/feed_cap.hpp"
#include "io/feed_profile.hpp"
#include "plan/machine.hpp"

namespace nurbs_interp {

// The largest ratio of an axis quantity to its limit over a profile, which, and where.
struct axis_check {
    double ratio = 0;
    limit_kind kind = limit_kind::none;
    int axis = -1;
    std::size_t sample = 0;
    double s = 0, t = 0; // the sample's arc length (the driver's travel) and time
};

// Returns the worst sample of `p` (one sample every m.period) on the curve of `arc` against the
// axis limits of `m`. Sample k stands at s_k = period * (v_0 + ... + v_{k-1}). Where |C'|
// vanishes at s_k (a cusp, a reversal) the curve's derivatives just ahead are used (the tool
// leaves the point along that direction); a sample at rest counts as within the limits.
axis_check check_profile_axes(const feed_profile &p, const arc_table &arc, const machine_limits &m);

// Returns the frame the checks use at arc length s (see check_profile_axes for a point where
// |C'| vanishes).
path_frame check_frame_at(const arc_table &arc, double s);

// The path length over which one limit binds.
struct binding {
    std::string limit;
    double length = 0; // mm
};

// Returns, for each limit that binds somewhere, the path length over which it does: a sample
// binds the limit whose ratio (feed to cruise, to a cap of `lim` at the sample's point; |a| and
// |j| to the path limits path_acc and path_jerk) is largest, when that ratio is within 1 % of 1;
// the sample's stretch v*T counts. "none" collects the rest. Ordered by length, longest first.
std::vector<binding> binding_report(const feed_profile &p, const arc_table &arc,
                                    const feed_cap_limits &lim, double path_acc, double path_jerk);

// How much of one limit a profile uses: its largest ratio to it, and the path length over which
// it binds (the samples within 1 % of it, each counting the stretch v*T it covers).
struct limit_use {
    std::string limit; // "X velocity", "path jerk", "cruise feed", ...
    double worst = 0;
    double binding = 0; // mm
};

// The use of every limit of `b` by `p` (sample k at the driver's travel s_k, its motion split
// onto the axes by compute_axial_vaj there): per axis with a limit its velocity, acceleration and
// jerk (and the steps at curvature jumps), then the cruise feed, the geometric caps and the path
// acceleration and jerk when they are limits; and, last, "any limit": the length over which at
// least one binds. An axis the path never moves along shows ratio 0.
std::vector<limit_use> limit_usage(const feed_profile &p, const arc_table &arc,
                                   const feed_bounds &b);

} // namespace nurbs_interp
