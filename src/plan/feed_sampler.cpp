#include "plan/feed_sampler.hpp"

#include <algorithm> // max, min, upper_bound
#include <cmath>     // cbrt, sqrt
#include <string>

#include "plan/feed_cap.hpp" // plan_error

namespace nurbs_interp {

double rest_curve_length(const rest_curve &r) {
    return r.jerk * r.tau * r.tau * r.tau / 6;
}

path_motion rest_curve_at(const rest_curve &r, double d) {
    const double t = std::cbrt(6 * std::max(d, 0.0) / r.jerk);
    return {0.5 * r.jerk * t * t, r.jerk * t, r.jerk};
}

namespace {

// The plan's motion at the driver's position s: the S-curves near the rests, the grid's feed
// between; `i` is a running index of the grid interval (positions only grow).
path_motion plan_at(const stretch_plan &plan, double s, std::size_t *i) {
    const grid_feed &g = plan.feed;
    if (s <= g.s.front()) return rest_curve_at(plan.start, s - plan.s0);
    if (s >= g.s.back()) {
        path_motion m = rest_curve_at(plan.stop, plan.s1 - s);
        m.a = -m.a;
        return m;
    }
    while (*i + 2 < g.s.size() && s > g.s[*i + 1])
        ++*i;
    const feed_square q = grid_feed_at(g, *i, s);
    const double v = std::sqrt(std::max(q.x, 0.0));
    return {v, 0.5 * q.dx, 0.5 * v * q.ddx};
}

} // namespace

void sample_stretch(const stretch_plan &plan, double period, feed_profile *p, double *s,
                    long max_samples) {
    const double T = period;
    auto push = [&](double v, double a, double j) {
        if (long(p->v.size()) >= max_samples)
            throw plan_error("the plan needs more than " + std::to_string(max_samples) +
                             " samples (bound)");
        p->v.push_back(v);
        p->a.push_back(a);
        p->j.push_back(j);
        *s += v * T;
    };
    // Two samples in time start the move: at rest with the start's jerk, then one period into
    // the S-curve.
    const double j0 = plan.start.jerk;
    push(0, 0, j0);
    push(0.5 * j0 * T * T, j0 * T, j0);
    std::size_t i = 0;
    for (;;) {
        const path_motion m = plan_at(plan, *s, &i);
        const double left = plan.s1 - *s;
        if (!(m.v * T < left)) {
            // The last step: the distance left, then rest. The feed into rest falls with the
            // distance left as d^(2/3), so steps of v T at the driver's travel overshoot the
            // last bit of the curve: the step before this one is about 4.5 j T^2 (j the stop's
            // path jerk), the axes see that much over one period as they come to rest, and the
            // stop's jerk is kept a fraction of the limit for it (optimal_plan).
            push(std::max(left, 0.0) / T, m.a, m.j);
            push(0, 0, 0);
            return;
        }
        push(m.v, m.a, m.j);
    }
}

} // namespace nurbs_interp
