// Jerk-limited (S-curve) feed planning: velocity ramps with bounded acceleration and jerk,
// rest-to-rest moves built from them, and their sampling into a feed profile.
#pragma once

#include <cstdio>
#include <vector>

#include "feed_profile.hpp"

// A change of feed from v0 to v1 with jerk +-jerk and acceleration at most acc: a jerk phase
// of length tj, a constant-acceleration phase of length ta, and a jerk phase of length tj.
struct feed_ramp {
    double v0 = 0, v1 = 0; // feed at the start and at the end, mm/s
    double jerk = 0;       // jerk of the first phase, signed (the third phase has -jerk), mm/s^3
    double tj = 0;         // length of each jerk phase, s
    double ta = 0;         // length of the constant-acceleration phase, s
};

// Returns the shortest ramp from v0 to v1 with |acceleration| <= acc and |jerk| <= jerk.
feed_ramp feed_ramp_plan(double v0, double v1, double acc, double jerk);

// Returns the ramp's duration, 2 tj + ta, s.
double feed_ramp_time(const feed_ramp &r);

// Returns the distance travelled during the ramp, (v0 + v1)/2 times its duration, mm.
double feed_ramp_length(const feed_ramp &r);

// Feed, acceleration and jerk at time t (0 <= t <= duration) into the ramp.
void feed_ramp_eval(const feed_ramp &r, double t, double *v, double *a, double *j);

// A rest-to-rest move: ramp up to the peak feed, cruise, ramp down.
struct feed_move {
    feed_ramp up, down;
    double peak = 0;   // feed while cruising, mm/s
    double cruise = 0; // cruise time, s
};

// Returns the move over `length` mm with cruise feed at most vmax and the given limits; a move
// too short to reach vmax peaks at the highest feed that fits (found by bisection).
feed_move feed_move_plan(double length, double vmax, double acc, double jerk);

// Returns the move's duration, s.
double feed_move_time(const feed_move &m);

// Feed, acceleration and jerk at time t into the move (zero outside it).
void feed_move_eval(const feed_move &m, double t, double *v, double *a, double *j);

// Returns samples k = 0 .. K at t = k*period, K the first sample at or after the move's end,
// so that the profile starts and ends at rest.
feed_profile feed_move_sample(const feed_move &m, double period);

// Returns the travel that a driver stepping s += v*period per sample covers: period * sum v.
double feed_profile_travel(const feed_profile &p, double period);

// Writes "N=<count>" and one "%.17g %.17g %.17g" line per sample; false on a write error.
bool feed_profile_write(std::FILE *out, const feed_profile &p);

// ---------------------------------------------------------------- curvature-limited planning
//
// Along a curve the feed is capped by the geometry: a chord of one servo period must not stray
// more than delta from the curve, v <= (2/T) sqrt(2 rho delta - delta^2), and the centripetal
// acceleration v^2/rho must stay below a limit, v <= sqrt(A_c rho); the cruise feed caps both.
// feed_plan_capped turns such a cap, tabulated over arc length, into a rest-to-rest profile with
// bounded acceleration and jerk that keeps every sample's feed under the cap over the stretch
// of curve the sample covers.

struct nurbs_curve;
struct arc_table;

// The limits that make up the feed cap along a curve.
struct feed_cap_limits {
    double vmax = 250;         // cruise feed, mm/s
    double chord_tol = 0.001;  // chord-error tolerance delta, mm
    double centripetal = 2500; // centripetal acceleration limit A_c, mm/s^2
    double period = 0.00025;   // servo period T, s
    double floor = 2.5;        // lowest cap, mm/s (keeps a cusp from stopping the move)
};

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
};

inline constexpr int FEED_CAP_BLOCK = 64;

// Returns the table over the given per-cell caps (for synthetic caps and for the curve).
feed_cap_table feed_cap_from_cells(std::vector<double> cells, double cell);

// Returns the cap of `curve` over its arc length in cells of `cell` mm. The curve is sampled
// at least once per cell length (evenly in u inside each knot span, arc length by three-point
// Gauss-Legendre from the span's start in `tab`); each cell takes the lowest sample value over
// it, and where the samples have a local minimum, the minimum of the parabola through the
// three samples around it.
feed_cap_table feed_cap_from_curve(nurbs_curve *curve, const arc_table &tab,
                                   const feed_cap_limits &lim, double cell);

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
// `travel`. Throws std::runtime_error if the move would need more than max_samples samples.
feed_profile feed_plan_capped(const feed_cap_table &cap, double travel, double acc, double jerk,
                              double period, feed_plan_stats *stats = nullptr,
                              long max_samples = 50000000);
