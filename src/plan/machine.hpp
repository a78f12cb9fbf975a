// The machine behind the path: per-axis limits of velocity, acceleration and jerk for X, Y and
// Z, and the servo period; the feed they allow along a curve, and the check of a profile
// against them with the system's own axis kinematics (compute_axial_vaj).
//
// How the axis limits become path limits. At a point with unit tangent C_s, curvature vector
// C_ss and its rate C_sss (derivatives by arc length), feed V, path acceleration A and path
// jerk J, axis k moves with
//   velocity      C_s,k V
//   acceleration  C_s,k A + C_ss,k V^2
//   jerk          C_s,k J + C_sss,k V^3 + 3 C_ss,k V A.
// Each axis's budget is split between the terms, so that a planner with scalar limits (a feed
// cap over arc length, a path acceleration and a path jerk) meets every axis limit:
// acceleration: AXIS_ACC_SHARE of each axis's limit for the tangential term (|C_s,k| <= 1, so the
// path acceleration limit is that share of the smallest axis limit), the rest for the
// centripetal term (a feed cap); jerk: a third each for the path jerk, the curvature-rate term
// and the coupling term (feed caps, the coupling one for the largest path acceleration). It is
// conservative (up to 2x slower than a time-optimal plan where curvature binds), never over.
#pragma once

#include <array>
#include <cmath> // HUGE_VAL
#include <string>
#include <utility> // pair

#include "plan/arc_length.hpp"
#include "core/geometric.hpp"
#include "core/interpolate.hpp" // SERVO_PERIOD

namespace nurbs_interp {

inline constexpr const char *AXIS_NAMES[3] = {"X", "Y", "Z"};

// Per-axis limits (0: none given for that quantity) and the servo period.
struct machine_limits {
    std::array<double, 3> vel{};  // mm/s
    std::array<double, 3> acc{};  // mm/s^2
    std::array<double, 3> jerk{}; // mm/s^3
    double period = SERVO_PERIOD; // s
};

// Returns component k (0: X, 1: Y, 2: Z) of p.
inline double axis_component(const cart_point &p, int k) {
    return k == 0 ? p.x : k == 1 ? p.y : p.z;
}

// True when any axis limit is given.
bool machine_has_axes(const machine_limits &m);

// Share of each axis's acceleration limit for the tangential term C_s,k A.
inline constexpr double AXIS_ACC_SHARE = 0.5;
// Share of each axis's jerk limit for each of the three jerk terms.
inline constexpr double AXIS_JERK_SHARE = 1.0 / 3;

// Returns the path acceleration limit: `acc`, lowered so that the tangential term of every
// axis stays within its share.
double machine_path_acc(const machine_limits &m, double acc);

// Returns the path jerk limit: `jerk`, lowered likewise.
double machine_path_jerk(const machine_limits &m, double jerk);

// The derivatives by arc length at a point: unit tangent, curvature vector and its rate.
struct path_frame {
    cart_point t, k, dk;
};

// Returns the frame at a point from C', C'', C''' (compute_axial_vaj at unit feed).
path_frame path_frame_at(const cart_point &d1, const cart_point &d2, const cart_point &d3);

// What a feed cap or a check is about.
enum class limit_kind {
    none,
    axis_vel,
    axis_acc,
    axis_jerk,
    feed,
    path_acc,
    path_jerk,
    chord,
    centripetal,
    stop,
    jump_jerk
};

// Returns the axis limits as text ("X,Y,Z velocity 250,250,none mm/s, acceleration ..., jerk
// ..."; "none" where a limit is not given), "" when none is.
std::string machine_text(const machine_limits &m);

// Returns a name for messages ("X acceleration", "path jerk", ...); axis is 0..2 for axis kinds.
std::string limit_name(limit_kind kind, int axis);

// A feed cap and the limit that sets it.
struct axis_cap {
    double v = HUGE_VAL; // mm/s
    limit_kind kind = limit_kind::none;
    int axis = -1;
};

// Returns the highest feed at a point of frame f for which every axis's velocity, centripetal
// acceleration share and the two speed-dependent jerk shares stay within the limits, with the
// path acceleration at most path_acc.
axis_cap axis_feed_cap(const path_frame &f, const machine_limits &m, double path_acc);

// Share of each axis's jerk limit that the jump of its acceleration at a curvature jump may
// take: where C_ss jumps by dk, axis k's acceleration jumps by dk_k V^2 within one period, which
// the positions show as a jerk of about |dk_k| V^2 / T.
inline constexpr double AXIS_JUMP_SHARE = 0.5;

// Returns the highest feed at which a jump `dk` of the curvature vector C_ss keeps every axis's
// |dk_k| V^2 / period within AXIS_JUMP_SHARE of its jerk limit, and the axis that sets it.
axis_cap jump_feed_cap(const cart_point &dk, const machine_limits &m, double period);

// Returns the axis motion a jump `dk` of C_ss shows at feed v over one period as a ratio to the
// jerk limits: the largest |dk_k| v^2 / (period J_k), and the axis (-1: none).
std::pair<double, int> jump_jerk_ratio(const cart_point &dk, const machine_limits &m, double v,
                                       double period);

} // namespace nurbs_interp
