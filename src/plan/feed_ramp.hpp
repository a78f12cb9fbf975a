// Jerk-limited (S-curve) feed planning: velocity ramps with bounded acceleration and jerk,
// rest-to-rest moves built from them, and their sampling into a feed profile.
#pragma once

#include <vector>

#include "io/feed_profile.hpp"

namespace nurbs_interp {

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

// A planned rest-to-rest move and its samples.
struct sampled_move {
    feed_move move;
    feed_profile profile;
    double planned = 0; // length the move was planned for, mm (a little below the target)
};

// Returns the move over at most `length` mm sampled every `period` s: the sampled travel
// period * sum(feed) differs from the planned length by the rectangle rule's error, so the
// move is planned a little shorter until its travel is at most `length`. Throws
// std::length_error, before sampling, when the move would need more than max_samples samples.
sampled_move feed_move_fit(double length, double vmax, double acc, double jerk, double period,
                           long max_samples = PROFILE_MAX_SAMPLES);

} // namespace nurbs_interp
