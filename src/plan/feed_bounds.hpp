// What bounds the feed along a path, for the time-optimal planner: the machine's axes (each
// axis's velocity, acceleration and jerk, through the chain rule of compute_axial_vaj), the path
// limits (cruise feed, path acceleration and jerk), and the geometric caps (chord error,
// centripetal acceleration); and the feeds they allow at one point.
#pragma once

#include <cmath> // HUGE_VAL

#include "plan/machine.hpp"

namespace nurbs_interp {

// Every limit of one plan; a limit of HUGE_VAL (or an axis limit of 0) is none.
struct feed_bounds {
    machine_limits machine;              // per axis; machine.period is the servo period
    double cruise = 250;                 // mm/s
    double path_acc = HUGE_VAL;          // |a| along the path, mm/s^2
    double path_jerk = HUGE_VAL;         // |j| along the path, mm/s^3
    bool geometric = false;              // apply the chord-error and centripetal caps
    double chord_tol = 0.001;            // mm
    double centripetal = 2500;           // mm/s^2
    double jump_share = AXIS_JUMP_SHARE; // of each axis's jerk, for the step at a curvature jump
};

// A feed and the limit that sets it.
struct bound_feed {
    double v = HUGE_VAL; // mm/s
    limit_kind kind = limit_kind::none;
    int axis = -1;
};

// Returns the highest feed at a point of frame f that the velocity-like limits allow whatever
// the path's acceleration and jerk: the cruise feed, each axis's velocity, and the chord-error
// and centripetal caps when asked for.
bound_feed feed_cap_at(const path_frame &f, const feed_bounds &b);

// Returns the highest steady feed at a point of frame f (no path acceleration or jerk): the cap
// of feed_cap_at, and each axis's centripetal acceleration |C_ss,k| v^2 and jerk |C_sss,k| v^3
// within its limits.
bound_feed steady_feed_at(const path_frame &f, const feed_bounds &b);

// Returns the highest feed at which the jump `dk` of C_ss at a curvature jump keeps every
// axis's step |dk_k| v^2 within one period at most jump_share of its jerk limit times period.
bound_feed jump_feed_at(const cart_point &dk, const feed_bounds &b);

// Returns the largest path jerk with which a move may leave or reach rest at a point of frame
// f: each axis's jerk limit over |C_s,k|, and the path jerk limit.
double rest_jerk_at(const path_frame &f, const feed_bounds &b);

// Returns the largest |path acceleration| at a point of frame f at rest: each axis's
// acceleration limit over |C_s,k|, and the path acceleration limit.
double rest_acc_at(const path_frame &f, const feed_bounds &b);

} // namespace nurbs_interp
