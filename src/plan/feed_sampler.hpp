// The time-optimal plan of one stretch between two rests turned into samples, one per servo
// period, as the driver travels them: sample k stands at s_k = T (v_0 + ... + v_{k-1}) and
// takes the feed, acceleration and jerk the plan has there.
//
// Near a rest the feed is an S-curve of constant path jerk (v = j t^2/2 from rest, the same
// backwards into rest): the planner's grid takes over where it ends. Sampling the plan at the
// driver's own position (v_k = v(s_k)) makes every sample's feed, acceleration and jerk those
// of the plan at the point the sample is checked at. Two samples before the first step are
// taken in time (a feed of 0 never moves the driver), and the last step before a rest covers
// exactly the distance left, so that the move comes to rest on the rest's arc length.
#pragma once

#include "io/feed_profile.hpp"
#include "plan/grid_feed.hpp"

namespace nurbs_interp {

// An S-curve to or from rest: constant path jerk `jerk` for `tau` seconds, covering
// jerk tau^3 / 6 mm and ending (or starting) at feed jerk tau^2 / 2 and acceleration jerk tau.
struct rest_curve {
    double jerk = 0; // mm/s^3
    double tau = 0;  // s
};

// Returns the length a rest curve covers, mm.
double rest_curve_length(const rest_curve &r);

// Feed, acceleration and jerk of a move from rest with jerk j at distance d from the rest
// (d >= 0): v = j t^2/2, a = j t, with t = (6d/j)^(1/3).
struct path_motion {
    double v = 0, a = 0, j = 0;
};
path_motion rest_curve_at(const rest_curve &r, double d);

// A stretch from rest at s0 to rest at s1: the S-curve from rest, the grid's feed over
// [s0 + start length, s1 - stop length], the S-curve into rest.
struct stretch_plan {
    double s0 = 0, s1 = 0; // mm
    rest_curve start, stop;
    grid_feed feed;
};

// Appends the samples of `plan` to `p`, the driver standing at *s (at or near plan.s0) at rest;
// on return *s is where it stands after the last sample (plan.s1 to within rounding), and the
// last sample appended is at rest there. Throws plan_error when the samples would pass
// `max_samples` in all (a feed that falls to 0 between the rests never arrives).
void sample_stretch(const stretch_plan &plan, double period, feed_profile *p, double *s,
                    long max_samples);

} // namespace nurbs_interp
