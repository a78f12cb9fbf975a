// A capped feed profile planned for a curve from start to finish: the caps the request and
// the machine set along the curve, the plan (with a rest at every corner when axis limits are
// given), the checks the written profile must pass, and the summary make_profile prints.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "plan/arc_length.hpp"
#include "plan/feed_cap.hpp"
#include "io/feed_profile.hpp"
#include "plan/machine.hpp"
#include "plan/optimal_plan.hpp"
#include "core/nurbs.hpp"

namespace nurbs_interp {

// How far short of a curve's accurate length make_profile's travel ends, mm: a driver that
// steps a little ahead never runs off the curve's end.
inline constexpr double PLAN_END_MARGIN = 0.5;

// What a capped profile is planned for, besides the machine's axes.
struct capped_request {
    double cruise = 250, acc = 2500, jerk = 50000; // path limits: feed, mm/s; mm/s^2; mm/s^3
    double chord_tol = 0.001;                      // chord-error tolerance, mm
    double centripetal = 2500;                     // centripetal acceleration limit, mm/s^2
    bool geometric = false;                        // apply the chord-error and centripetal caps
    double floor_share = 0.01; // lowest cap as a share of the cruise feed (none with axis limits)
    double cap_cell = 0.01;    // arc-length cell of the cap table, mm
    double axis_slack = 1e-9;  // relative slack of the axis check of the written profile
};

// A planned profile and what it was planned against.
struct capped_plan {
    feed_cap_limits lim; // lim.machine points at the machine_limits the plan was made for
    feed_cap_table cap;
    feed_profile profile;
    feed_plan_stats stats;
    double target = 0, path_acc = 0, path_jerk = 0;
};

// Returns the limits of the cap along the curve of `arc`: the geometric caps when the request
// asks for them, the axes of `m` when it has any (a stop at every corner, no floor).
feed_cap_limits capped_limits(const capped_request &req, const machine_limits &m,
                              nurbs_curve *curve, const arc_table &arc);

// Returns a plan to `target` mm with its limits, its cap table and its path limits, no
// profile yet (the caller may warn about the cap before the planning).
capped_plan plan_caps(nurbs_curve *curve, const arc_table &arc, const machine_limits &m,
                      const capped_request &req, double target);

// The shares planner's work bound: braking steps in all (about 10^9 a few seconds), and the
// checks per period.
inline constexpr double SHARES_MAX_WORK = 2e9;
inline constexpr double SHARES_BISECTIONS = 24;

// Plans `plan.profile` under its caps, ending just short of its target (refused first when its
// work would pass SHARES_MAX_WORK); with axis limits,
// checks it sample by sample against them. Throws plan_error naming `source` when a sample is
// not finite, when the axes allow no feed at some point, or when a sample exceeds an axis limit
// by more than the request's slack.
void plan_profile(capped_plan &plan, const arc_table &arc, const machine_limits &m,
                  const capped_request &req, const std::string &source);

// Returns the warnings about a cap table: the length over which the floor of `lim` was used, the
// arc lengths where the tangent turns sharply or |C'| vanishes (where the cap is the floor).
std::vector<std::string> cap_warnings(const feed_cap_table &cap, const feed_cap_limits &lim);

// Throws plan_error naming `source` when a sample of `p` is not finite (nothing is written then).
void refuse_non_finite(const feed_profile &p, const std::string &source);

// Prints the summary lines of a planned profile to `out`, each indented by two blanks: the
// request, the machine and the path limits it gives, target and travel, the worst ratios to the
// cap and the path limits; with axis limits the worst axis quantity and what binds where.
void print_capped_plan(std::FILE *out, const capped_plan &plan, const capped_request &req,
                       const arc_table &arc, const machine_limits &m);

// Which planner plans a capped profile.
enum class planner_kind {
    optimal, // the time-optimal planner (optimal_plan.hpp): every limit as itself, near the
             // shortest time they allow
    shares   // the earlier planner: each axis's budget split in fixed shares (feed_cap.hpp)
};

// Returns the limits of a time-optimal plan: the machine's axes; the cruise feed; the path
// acceleration and jerk of `req` unless the machine has axis limits and they were not asked for
// (`path_given`: the machine's axes replace the path defaults); the geometric caps when asked.
feed_bounds optimal_bounds(const capped_request &req, const machine_limits &m, bool path_given);

// A time-optimal plan and what it was planned against.
struct optimal_profile {
    feed_bounds bounds;
    feed_profile profile;
    optimal_stats stats;
    double target = 0;       // mm
    std::size_t corners = 0; // rests inside the path
    double realised_share = 0;
};

// Plans the profile from rest at 0 to rest at `target` with a rest at every corner of the
// curve of `arc`, then checks it sample by sample; `progress` is shown on a terminal. Throws
// plan_error naming `source` when no plan is found or a sample is not finite (nothing is
// written then).
optimal_profile plan_profile_optimal(const arc_table &arc, const feed_bounds &b, double target,
                                     const std::string &source, const optimal_options &opt = {},
                                     const std::function<void(double)> &progress = {});

// Prints the summary lines of a time-optimal plan to `out`, each indented by two blanks: the
// limits, target and travel, the duration beside the acceleration-limited bound, and for every
// limit its largest ratio and the share of the path where it binds.
void print_optimal_plan(std::FILE *out, const optimal_profile &plan, const arc_table &arc);

} // namespace nurbs_interp
