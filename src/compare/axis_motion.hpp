// The axis motion an interpolator really produces: from the positions C(u_k) it reaches, one per
// servo period, each axis's velocity, acceleration and jerk as first, second and third
// differences over T (the tool at rest before the first sample); their extremes and their
// ratios to a machine's limits. And the motion the profile plans: compute_axial_vaj at each
// sample's commanded point with its feed, acceleration and jerk.
#pragma once

#include <cmath> // NAN
#include <string>
#include <vector>

#include "core/geometric.hpp"
#include "io/feed_profile.hpp"
#include "plan/arc_length.hpp"
#include "plan/machine.hpp"

namespace nurbs_interp {

// The last positions reached, for the differences.
struct axis_tracker {
    cart_point p[3] = {}; // p[0] the latest
    int count = 0;
};

// The differences at one sample: acceleration (second difference / T^2, centred on the
// previous position) and jerk (third difference / T^3).
struct axis_difference {
    cart_point acc, jerk;
};

// Adds the position reached at the end of a period of T seconds; returns the differences that
// end there (before the first position the tool stood at it).
axis_difference axis_tracker_add(axis_tracker &t, const cart_point &p, double T);

// The extremes over a run: the largest |component| of the axis acceleration and jerk, and the
// largest ratio of a component to its axis's limit (NaN without limits for it).
struct axis_extremes {
    double acc_max = 0, jerk_max = 0;
    double acc_ratio = NAN, jerk_ratio = NAN;
};

// Returns the largest |component| of p.
double axis_largest(const cart_point &p);

// Adds one sample's differences to the extremes; `limits` may be null.
void axis_extremes_add(axis_extremes &e, const axis_difference &d, const machine_limits *limits);

// The motion a profile plans along a curve: per sample the largest axis jerk component (mm/s^3),
// the extremes of acceleration and jerk, and the largest ratio of an axis velocity to its limit
// (NaN without velocity limits).
struct planned_axis_motion {
    std::vector<double> jerk;
    axis_extremes extremes;
    double vel_ratio = NAN;
};

// Returns the planned motion of `p` on the curve of `arc`, sample k at the driver's travel
// T (v_0 + ... + v_k-1).
planned_axis_motion plan_axis_motion(const feed_profile &p, const arc_table &arc, double T,
                                     const machine_limits *limits);

// A profile whose own plan keeps every axis within a machine's limits up to this relative slack
// was planned for that machine (make_profile checks its plans to 1e-9).
inline constexpr double PLANNED_WITHIN_SLACK = 1e-6;

// How a profile stands to the machine whose limits the ratio columns are taken against.
struct machine_fit {
    bool machine = false;  // limits were given
    bool within = true;    // the profile's plan keeps every axis within them (PLANNED_WITHIN_SLACK)
    double ratio = NAN;    // the plan's largest ratio of an axis velocity, acceleration or jerk
    const char *what = ""; // which: "velocity", "acceleration" or "jerk"
};

// Returns how the planned motion `m` stands to `limits` (null: no machine).
machine_fit machine_fit_of(const planned_axis_motion &m, const machine_limits *limits);

// Returns what a machine fit means for the axis ratios, for the lines above a table and the
// notes below it: "" without a machine.
std::string machine_fit_text(const machine_fit &f);

} // namespace nurbs_interp
