#include "plan/feed_ramp.hpp"

#include <cmath>     // ceil, fabs, sqrt
#include <stdexcept> // length_error for a move too long to sample
#include <string>

#include "io/format.hpp"

namespace nurbs_interp {

feed_ramp feed_ramp_plan(double v0, double v1, double acc, double jerk) {
    feed_ramp r;
    r.v0 = v0;
    r.v1 = v1;
    const double dv = std::fabs(v1 - v0);
    if (dv == 0) return r;
    // Acceleration limit reached when dv >= acc^2/jerk; otherwise a pure jerk ramp.
    if (dv * jerk >= acc * acc) {
        r.tj = acc / jerk;
        r.ta = dv / acc - r.tj;
    } else {
        r.tj = std::sqrt(dv / jerk);
        r.ta = 0;
    }
    r.jerk = v1 > v0 ? jerk : -jerk;
    return r;
}

double feed_ramp_time(const feed_ramp &r) {
    return 2 * r.tj + r.ta;
}

double feed_ramp_length(const feed_ramp &r) {
    return 0.5 * (r.v0 + r.v1) * feed_ramp_time(r);
}

void feed_ramp_eval(const feed_ramp &r, double t, double *v, double *a, double *j) {
    const double J = r.jerk, amax = J * r.tj;
    if (t < r.tj) {
        *j = J;
        *a = J * t;
        *v = r.v0 + 0.5 * J * t * t;
    } else if (t < r.tj + r.ta) {
        const double tau = t - r.tj;
        *j = 0;
        *a = amax;
        *v = r.v0 + 0.5 * J * r.tj * r.tj + amax * tau;
    } else {
        // Measured back from the end, so that the ramp ends exactly at v1 with a = 0.
        const double rest = feed_ramp_time(r) - t;
        *j = rest > 0 ? -J : 0;
        *a = rest > 0 ? J * rest : 0;
        *v = rest > 0 ? r.v1 - 0.5 * J * rest * rest : r.v1;
    }
}

feed_move feed_move_plan(double length, double vmax, double acc, double jerk) {
    feed_move m;
    auto ramps_for = [&](double peak) {
        m.peak = peak;
        m.up = feed_ramp_plan(0, peak, acc, jerk);
        m.down = feed_ramp_plan(peak, 0, acc, jerk);
        return feed_ramp_length(m.up) + feed_ramp_length(m.down);
    };
    if (ramps_for(vmax) <= length) {
        m.cruise = (length - (feed_ramp_length(m.up) + feed_ramp_length(m.down))) / vmax;
        return m;
    }
    double lo = 0, hi = vmax;
    for (int it = 0; it < 200 && hi - lo > 1e-15 * vmax; ++it) {
        const double mid = 0.5 * (lo + hi);
        if (ramps_for(mid) <= length)
            lo = mid;
        else
            hi = mid;
    }
    ramps_for(lo);
    m.cruise = 0;
    return m;
}

double feed_move_time(const feed_move &m) {
    return feed_ramp_time(m.up) + m.cruise + feed_ramp_time(m.down);
}

void feed_move_eval(const feed_move &m, double t, double *v, double *a, double *j) {
    const double t_up = feed_ramp_time(m.up), t_down = t_up + m.cruise;
    if (t <= 0 || t >= feed_move_time(m)) {
        *v = *a = *j = 0;
    } else if (t < t_up) {
        feed_ramp_eval(m.up, t, v, a, j);
    } else if (t < t_down) {
        *v = m.peak;
        *a = *j = 0;
    } else {
        feed_ramp_eval(m.down, t - t_down, v, a, j);
    }
}

feed_profile feed_move_sample(const feed_move &m, double period) {
    const long last = long(std::ceil(feed_move_time(m) / period));
    feed_profile p;
    p.v.resize(last + 1);
    p.a.resize(last + 1);
    p.j.resize(last + 1);
    for (long k = 0; k <= last; ++k)
        feed_move_eval(m, k * period, &p.v[k], &p.a[k], &p.j[k]);
    return p;
}

sampled_move feed_move_fit(double length, double vmax, double acc, double jerk, double period,
                           long max_samples) {
    sampled_move m;
    m.planned = length;
    m.move = feed_move_plan(m.planned, vmax, acc, jerk);
    const double samples = std::ceil(feed_move_time(m.move) / period) + 1;
    if (!(samples <= double(max_samples)))
        throw std::length_error("the move takes " + fmt("%.6g", feed_move_time(m.move)) +
                                " s: " + fmt("%.6g", samples) + " samples of " + fmt("%g", period) +
                                " s, more than the bound of " + std::to_string(max_samples));
    m.profile = feed_move_sample(m.move, period);
    for (int it = 0; it < 20 && feed_profile_travel(m.profile, period) > length; ++it) {
        m.planned -= feed_profile_travel(m.profile, period) - length + 1e-9 * length;
        m.move = feed_move_plan(m.planned, vmax, acc, jerk);
        m.profile = feed_move_sample(m.move, period);
    }
    return m;
}

} // namespace nurbs_interp
