#include "plan/plan_check.hpp"

#include <algorithm> // sort
#include <cmath>     // fabs, isfinite
#include <map>

#include "plan/joints.hpp"

namespace nurbs_interp {

namespace {

// The curve's derivatives at arc length s.
struct point_derivatives {
    cart_point P, d1, d2, d3;
};

point_derivatives derivatives_at_length(const arc_table &arc, double s) {
    point_derivatives d;
    nurbs_deBoor_eval(arc_param_at(arc, s), -1, arc.curve, &d.P, &d.d1, &d.d2, &d.d3);
    return d;
}

} // namespace

axis_check check_profile_axes(const feed_profile &p, const arc_table &arc,
                              const machine_limits &m) {
    axis_check worst;
    const std::vector<curvature_jump> jumps = curvature_jumps(arc.curve);
    std::vector<double> jump_s;
    for (const curvature_jump &j : jumps)
        jump_s.push_back(arc_length_to(arc, j.u));
    double s = 0;
    for (std::size_t i = 0; i < p.v.size(); ++i) {
        // A curvature jump the sample's period crosses: the acceleration step it makes.
        for (std::size_t q = std::lower_bound(jump_s.begin(), jump_s.end(), s) - jump_s.begin();
             q < jumps.size() && jump_s[q] < s + p.v[i] * m.period; ++q) {
            const auto [r, k] = jump_jerk_ratio(jumps[q].dk, m, p.v[i], m.period);
            if (r > worst.ratio) worst = {r, limit_kind::jump_jerk, k, i, s, double(i) * m.period};
        }
        const point_derivatives d = derivatives_at_length(arc, s);
        cart_point v, a, j;
        compute_axial_vaj(&v, &a, &j, &d.d1, &d.d2, &d.d3, p.v[i], p.a[i], p.j[i]);
        const bool resting = p.v[i] == 0 && p.a[i] == 0 && p.j[i] == 0;
        for (int k = 0; k < 3; ++k) {
            const double value[3] = {axis_component(v, k), axis_component(a, k),
                                     axis_component(j, k)};
            const double limit[3] = {m.vel[k], m.acc[k], m.jerk[k]};
            const limit_kind kind[3] = {limit_kind::axis_vel, limit_kind::axis_acc,
                                        limit_kind::axis_jerk};
            for (int q = 0; q < 3; ++q) {
                if (!(limit[q] > 0)) continue;
                double r = std::fabs(value[q]) / limit[q];
                if (!std::isfinite(value[q])) r = resting ? 0 : HUGE_VAL;
                if (r > worst.ratio) worst = {r, kind[q], k, i, s, double(i) * m.period};
            }
        }
        s += p.v[i] * m.period;
    }
    return worst;
}

std::vector<binding> binding_report(const feed_profile &p, const arc_table &arc,
                                    const feed_cap_limits &lim, double path_acc, double path_jerk) {
    std::map<std::string, double> length;
    double s = 0;
    for (std::size_t i = 0; i < p.v.size(); ++i) {
        const double v = p.v[i], step = v * lim.period;
        std::string best = "none";
        double top = 0;
        auto consider = [&](double ratio, const std::string &name) {
            if (ratio > top) {
                top = ratio;
                best = name;
            }
        };
        consider(v / lim.vmax, limit_name(limit_kind::feed, -1));
        consider(std::fabs(p.a[i]) / path_acc, limit_name(limit_kind::path_acc, -1));
        consider(std::fabs(p.j[i]) / path_jerk, limit_name(limit_kind::path_jerk, -1));
        if (v > 0) {
            const point_derivatives d = derivatives_at_length(arc, s);
            const double rho = curvature_rad_at_point(&d.d1, &d.d2);
            if (lim.geometric) {
                consider(v / chord_cap(rho, lim), limit_name(limit_kind::chord, -1));
                consider(v / centripetal_cap(rho, lim), limit_name(limit_kind::centripetal, -1));
            }
            if (lim.machine) {
                const axis_cap c =
                    axis_feed_cap(path_frame_at(d.d1, d.d2, d.d3), *lim.machine, lim.path_acc);
                consider(v / c.v, limit_name(c.kind, c.axis));
            }
            for (const feed_cap_limits::point_cap &pc : lim.point_caps)
                if (pc.s >= s && pc.s < s + step)
                    consider(v / pc.cap.v, limit_name(pc.cap.kind, pc.cap.axis));
        }
        length[top >= 0.99 ? best : "none"] += step;
        s += step;
    }
    std::vector<binding> out;
    for (const auto &[name, len] : length)
        out.push_back({name, len});
    std::sort(out.begin(), out.end(),
              [](const binding &a, const binding &b) { return a.length > b.length; });
    return out;
}

} // namespace nurbs_interp
