// A planned feed profile checked sample by sample against every limit it was planned for: the
// motion of each axis (compute_axial_vaj from the curve's derivatives at the sample's point and
// its feed, acceleration and jerk), and which limit binds over how much of the path.
#pragma once

#include <string>
#include <vector>

#include "plan/arc_length.hpp"
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
// axis limits of `m`. Sample k stands at s_k = period * (v_0 + ... + v_{k-1}). A sample at rest
// where the curve has no tangent counts as within the limits.
axis_check check_profile_axes(const feed_profile &p, const arc_table &arc, const machine_limits &m);

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

} // namespace nurbs_interp
