#include "plan/feed_bounds.hpp"

#include <algorithm> // max, min
#include <cmath>     // cbrt, fabs, sqrt

#include "plan/feed_cap.hpp" // chord_cap, centripetal_cap

namespace nurbs_interp {

namespace {

// Lowers `c` to v when v is lower.
void lower(bound_feed &c, double v, limit_kind kind, int axis) {
    if (v < c.v) c = {v, kind, axis};
}

} // namespace

bound_feed feed_cap_at(const path_frame &f, const feed_bounds &b) {
    bound_feed c{b.cruise, limit_kind::feed, -1};
    for (int k = 0; k < 3; ++k) {
        const double t = std::fabs(axis_component(f.t, k));
        if (b.machine.vel[k] > 0 && t > 0) lower(c, b.machine.vel[k] / t, limit_kind::axis_vel, k);
    }
    if (b.geometric) {
        const double kappa = std::sqrt(dotprod(&f.k, &f.k));
        const double rho = kappa > 0 ? 1 / kappa : HUGE_VAL;
        feed_cap_limits lim;
        lim.chord_tol = b.chord_tol;
        lim.centripetal = b.centripetal;
        lim.period = b.machine.period;
        if (std::isfinite(rho)) {
            lower(c, chord_cap(rho, lim), limit_kind::chord, -1);
            lower(c, centripetal_cap(rho, lim), limit_kind::centripetal, -1);
        }
    }
    return c;
}

bound_feed steady_feed_at(const path_frame &f, const feed_bounds &b) {
    bound_feed c = feed_cap_at(f, b);
    for (int k = 0; k < 3; ++k) {
        const double kap = std::fabs(axis_component(f.k, k)),
                     dk = std::fabs(axis_component(f.dk, k));
        if (b.machine.acc[k] > 0 && kap > 0)
            lower(c, std::sqrt(b.machine.acc[k] / kap), limit_kind::axis_acc, k);
        if (b.machine.jerk[k] > 0 && dk > 0)
            lower(c, std::cbrt(b.machine.jerk[k] / dk), limit_kind::axis_jerk, k);
    }
    return c;
}

bound_feed jump_feed_at(const cart_point &dk, const feed_bounds &b) {
    bound_feed c;
    for (int k = 0; k < 3; ++k) {
        const double jump = std::fabs(axis_component(dk, k));
        if (b.machine.jerk[k] > 0 && jump > 0)
            lower(c, std::sqrt(b.jump_share * b.machine.jerk[k] * b.machine.period / jump),
                  limit_kind::jump_jerk, k);
    }
    return c;
}

namespace {

// Returns the largest path quantity along the unit tangent t that keeps every axis's share
// within its limit (axis k takes |t_k| of it), and within the path's own limit.
double along_tangent(const cart_point &t, const std::array<double, 3> &axis, double path) {
    for (int k = 0; k < 3; ++k) {
        const double share = std::fabs(axis_component(t, k));
        if (axis[k] > 0 && share > 0) path = std::min(path, axis[k] / share);
    }
    return path;
}

} // namespace

double rest_jerk_at(const path_frame &f, const feed_bounds &b) {
    return along_tangent(f.t, b.machine.jerk, b.path_jerk);
}

double rest_acc_at(const path_frame &f, const feed_bounds &b) {
    return along_tangent(f.t, b.machine.acc, b.path_acc);
}

} // namespace nurbs_interp
