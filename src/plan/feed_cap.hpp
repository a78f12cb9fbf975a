// Curvature-limited feed planning: along a curve the feed is capped by the geometry, and the
// capped planner turns that cap into a rest-to-rest, jerk-limited feed profile.
//
// Along a curve the feed is capped by the geometry: a chord of one servo period must not stray
// more than delta from the curve, v <= (2/T) sqrt(2 rho delta - delta^2), and the centripetal
// acceleration v^2/rho must stay below a limit, v <= sqrt(A_c rho); the cruise feed caps both.
// feed_plan_capped turns such a cap, tabulated over arc length, into a rest-to-rest profile with
// bounded acceleration and jerk that keeps every sample's feed under the cap over the stretch
// of curve the sample covers.
#pragma once

#include <functional>
#include <vector>

#include "plan/arc_length.hpp"  // arc_table: arc length at the knots
#include "io/feed_profile.hpp"  // feed_profile
#include "core/interpolate.hpp" // SERVO_PERIOD
#include "plan/machine.hpp"     // axis limits
#include "core/nurbs.hpp"       // nurbs_curve

namespace nurbs_interp {

// The limits that make up the feed cap along a curve.
struct feed_cap_limits {
    double vmax = 250;            // cruise feed, mm/s
    double chord_tol = 0.001;     // chord-error tolerance delta, mm
    double centripetal = 2500;    // centripetal acceleration limit A_c, mm/s^2
    double period = SERVO_PERIOD; // servo period T, s
    double floor = 2.5;           // lowest cap, mm/s (keeps a cusp from stopping the move)
    bool geometric = true;        // apply the chord-error and centripetal caps
    // Axis limits (machine.hpp), or null; path_acc the path acceleration limit they assume.
    const machine_limits *machine = nullptr;
    double path_acc = 0;
    // Arc lengths where the move comes to rest (corners), sorted: no floor is applied there.
    std::vector<double> stops;
    // Caps at single points (curvature jumps: machine.hpp), with the limit that sets each.
    struct point_cap {
        double s; // arc length, mm
        axis_cap cap;
    };
    std::vector<point_cap> point_caps;
};

// Returns the chord-error cap at radius of curvature rho (mm): (2/T) sqrt(2 r delta - delta^2),
// r = max(rho, delta).
double chord_cap(double rho, const feed_cap_limits &lim);

// Returns the centripetal cap at radius of curvature rho: sqrt(A_c rho).
double centripetal_cap(double rho, const feed_cap_limits &lim);

// Returns the feed cap at radius of curvature rho (mm): the least of vmax, the chord-error cap
// and the centripetal cap, but at least lim.floor. Below rho = delta (where the chord formula
// fails for rho < delta/2) the chord cap keeps its value at rho = delta, 2 delta / T: a chord of
// one circle diameter.
double feed_cap_at_radius(double rho, const feed_cap_limits &lim);

// A feed cap over arc length [0, cells * cell]: a lower bound of the cap in each cell, and a
// two-level minimum table (blocks of cells, sparse table over blocks) for range queries.
struct feed_cap_table {
    double cell = 0;                         // cell width, mm
    std::vector<double> cap;                 // lowest cap in [i cell, (i+1) cell], mm/s
    std::vector<double> block_min;           // lowest cap of each block of FEED_CAP_BLOCK cells
    std::vector<std::vector<double>> sparse; // sparse[k][b]: lowest of blocks b .. b + 2^k - 1
    double floored = 0; // length over which the floor raised the geometric cap, mm
    // Arc lengths (mm) where the tangent turns sharply or the parameter speed vanishes (a
    // corner, a cusp, a reversal), at which the cap is the floor; the first few only.
    std::vector<double> sharp;
    long sharp_count = 0; // all such places
};

inline constexpr int FEED_CAP_BLOCK = 64;

// The most cells a cap table may have (about 160 MB of caps; at the tools' 0.01 mm cells, a
// path of 200 m).
inline constexpr long FEED_CAP_MAX_CELLS = 20000000;

// A turn of the tangent by more than this between neighbouring samples of the cap (at most one
// cell apart) is a corner: the radius formula does not see it (at a reversal C'' is parallel
// to C'), so the cap is the floor there. 10 degrees in 0.01 mm is a radius of 0.06 mm.
inline constexpr double FEED_CAP_SHARP_TURN_DEG = 10.0;

// A planning request that cannot be met within its bounds; the message gives the estimate and
// the bound.
struct plan_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Returns the table over the given per-cell caps (for synthetic caps and for the curve).
feed_cap_table feed_cap_from_cells(std::vector<double> cells, double cell);

// Returns the cap of `curve` over its arc length in cells of `cell` mm: the geometric caps
// (when lim.geometric) and, when lim.machine is given, the axis cap of axis_feed_cap. The curve
// is sampled
// at least once per cell length (evenly in u inside each knot span, at the accurate arc length
// of `tab`); each cell takes the lowest sample value over
// it, and where the samples have a local minimum, the minimum of the parabola through the
// three samples around it. Where the unit tangent turns by more than FEED_CAP_SHARP_TURN_DEG
// between two samples, or |C'| is 0, both samples take the floor. Throws plan_error when the
// table would need more than FEED_CAP_MAX_CELLS cells.
feed_cap_table feed_cap_from_curve(nurbs_curve *curve, const arc_table &tab,
                                   const feed_cap_limits &lim, double cell);

// Returns the cap over [a, b] of `cap` as a table of its own starting at 0 (each cell the lowest
// of the cells it overlaps).
feed_cap_table feed_cap_slice(const feed_cap_table &cap, double a, double b);

// Returns the lowest cap over the arc lengths [s0, s1] (s0 <= s1, clamped to the table).
double feed_cap_min(const feed_cap_table &cap, double s0, double s1);

// Counts of the capped planner's work.
struct feed_plan_stats {
    long checks = 0; // look-ahead braking checks run
    long forced = 0; // periods where no jerk passed the check and the braking jerk was taken
};

// Returns a rest-to-rest profile sampled every `period` s whose driver travel
// period * sum(feed) ends at most `travel` mm (just short of it), with |acceleration| <= acc,
// |jerk| <= jerk, and for every sample k, feed v_k <= the cap over [s_k, s_k + v_k period],
// s_k = period * (v_0 + ... + v_{k-1}) being where the driver stands. Jerk is constant over
// each period (the last may stop inside its period); acceleration and feed are its exact
// integrals. Each period takes the largest jerk after which full braking (jerk -jerk down to
// -acc, then easing off to rest) still keeps every later sample under the cap and stops by
// `travel`. Throws plan_error if the move would need more than max_samples samples.
// A move that comes to rest within `end_gap` mm of its target ends there.
feed_profile feed_plan_capped(const feed_cap_table &cap, double travel, double acc, double jerk,
                              double period, feed_plan_stats *stats = nullptr,
                              long max_samples = PROFILE_MAX_SAMPLES, double end_gap = 1e-4);

// How close to a stop a move comes to rest (mm): close enough that starting again across the
// corner from there moves the tool by less than the rounding of its position.
inline constexpr double FEED_STOP_GAP = 1e-9;

// Returns feed_plan_capped over each stretch between consecutive `stops` (arc lengths, sorted,
// inside (0, travel)) and the target `travel`, joined: the move comes to rest within
// FEED_STOP_GAP of every stop and starts again from where it stands.
feed_profile feed_plan_with_stops(const feed_cap_table &cap, const std::vector<double> &stops,
                                  double travel, double acc, double jerk, double period,
                                  feed_plan_stats *stats = nullptr,
                                  long max_samples = PROFILE_MAX_SAMPLES);

// The worst ratios of a profile to its limits, measured as the driver runs it: sample k covers
// [s_k, s_k + v_k T], s_k = T (v_0 + ... + v_{k-1}).
struct feed_limit_ratios {
    double cap = 0;         // max feed / lowest cap over the sample's stretch
    double acc = 0;         // max |a| / acc
    double jerk = 0;        // max |j| / jerk
    double lowest_cap = 0;  // lowest cap met by any sample, mm/s
    double slowest_mid = 0; // slowest local minimum of the feed between start and stop (inf: none)
    double travel = 0;      // T * sum of the feeds, mm
};

// Returns the ratios of `p` to `cap_over(s0, s1)` (the lowest cap over [s0, s1]), acc and jerk.
feed_limit_ratios feed_limits_check(const feed_profile &p,
                                    const std::function<double(double, double)> &cap_over,
                                    double acc, double jerk, double period);

} // namespace nurbs_interp
