#include "plan/plan_check.hpp"

#include <algorithm> // sort
#include <cmath>     // fabs, isfinite
#include <map>

#include "plan/joints.hpp"

namespace nurbs_interp {

namespace {

// A share of the path's length: see derivatives_at_length.
inline constexpr double SINGULAR_STEP = 1e-12;

// The curve's derivatives at arc length s.
struct point_derivatives {
    cart_point P, d1, d2, d3;
};

// Where |C'| vanishes (a cusp, a reversal) the derivatives SINGULAR_STEP of the path's length
// ahead: the tool leaves the point along that direction, and there the derivatives by arc
// length are no longer lost in rounding.
point_derivatives derivatives_at_length(const arc_table &arc, double s) {
    point_derivatives d;
    nurbs_deBoor_eval(arc_param_at(arc, s), -1, arc.curve, &d.P, &d.d1, &d.d2, &d.d3);
    const double length = arc_table_length(arc);
    for (double e = SINGULAR_STEP; !(modulus(&d.d1) > 0) && e < 1e-3; e *= 10)
        nurbs_deBoor_eval(arc_param_at(arc, std::min(s + e * length, length)), -1, arc.curve, &d.P,
                          &d.d1, &d.d2, &d.d3);
    return d;
}

// Returns the arc lengths of the curvature jumps of the curve of `arc`.
std::vector<double> jump_lengths(const arc_table &arc, const std::vector<curvature_jump> &jumps) {
    std::vector<double> s;
    for (const curvature_jump &j : jumps)
        s.push_back(arc_length_to(arc, j.u));
    return s;
}

} // namespace

path_frame check_frame_at(const arc_table &arc, double s) {
    const point_derivatives d = derivatives_at_length(arc, s);
    return path_frame_at(d.d1, d.d2, d.d3);
}

axis_check check_profile_axes(const feed_profile &p, const arc_table &arc,
                              const machine_limits &m) {
    axis_check worst;
    const std::vector<curvature_jump> jumps = curvature_jumps(arc.curve);
    const std::vector<double> jump_s = jump_lengths(arc, jumps);
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

std::vector<limit_use> limit_usage(const feed_profile &p, const arc_table &arc,
                                   const feed_bounds &b) {
    const machine_limits &m = b.machine;
    // Rows: 3 axes x (velocity, acceleration, jerk, jump), then the path's.
    const bool has_jumps = !curvature_jumps(arc.curve).empty();
    std::vector<limit_use> use;
    std::vector<int> slot(17, -1);
    const limit_kind kinds[4] = {limit_kind::axis_vel, limit_kind::axis_acc, limit_kind::axis_jerk,
                                 limit_kind::jump_jerk};
    for (int k = 0; k < 3; ++k)
        for (int q = 0; q < 4; ++q) {
            const double limit = q == 0 ? m.vel[k] : q == 1 ? m.acc[k] : m.jerk[k];
            if (limit > 0 && (q < 3 || has_jumps)) {
                slot[4 * k + q] = int(use.size());
                use.push_back({limit_name(kinds[q], k)});
            }
        }
    auto path_row = [&](int at, limit_kind kind, bool on) {
        if (!on) return;
        slot[at] = int(use.size());
        use.push_back({limit_name(kind, -1)});
    };
    path_row(12, limit_kind::feed, true);
    path_row(13, limit_kind::chord, b.geometric);
    path_row(14, limit_kind::centripetal, b.geometric);
    path_row(15, limit_kind::path_acc, b.path_acc < HUGE_VAL);
    path_row(16, limit_kind::path_jerk, b.path_jerk < HUGE_VAL);
    const std::size_t any = use.size();
    use.push_back({"any limit"});
    const std::vector<curvature_jump> jumps = curvature_jumps(arc.curve);

    const std::vector<double> jump_s = jump_lengths(arc, jumps);
    double s = 0;
    for (std::size_t i = 0; i < p.v.size(); ++i) {
        const double step = p.v[i] * m.period;
        double top = 0;
        auto note = [&](int row, double r) {
            if (row < 0 || !std::isfinite(r)) return;
            use[row].worst = std::max(use[row].worst, r);
            if (r >= 0.99) use[row].binding += step;
            top = std::max(top, r);
        };
        const point_derivatives d = derivatives_at_length(arc, s);
        cart_point v, a, j;
        compute_axial_vaj(&v, &a, &j, &d.d1, &d.d2, &d.d3, p.v[i], p.a[i], p.j[i]);
        for (int k = 0; k < 3; ++k) {
            if (m.vel[k] > 0) note(slot[4 * k], std::fabs(axis_component(v, k)) / m.vel[k]);
            if (m.acc[k] > 0) note(slot[4 * k + 1], std::fabs(axis_component(a, k)) / m.acc[k]);
            if (m.jerk[k] > 0) note(slot[4 * k + 2], std::fabs(axis_component(j, k)) / m.jerk[k]);
        }
        for (std::size_t q = std::lower_bound(jump_s.begin(), jump_s.end(), s) - jump_s.begin();
             q < jumps.size() && jump_s[q] < s + step; ++q) {
            const auto [r, k] = jump_jerk_ratio(jumps[q].dk, m, p.v[i], m.period);
            if (k >= 0) note(slot[4 * k + 3], r);
        }
        if (p.v[i] > 0) {
            const path_frame f = path_frame_at(d.d1, d.d2, d.d3);
            note(slot[12], p.v[i] / b.cruise);
            if (b.geometric) {
                const double kappa = std::sqrt(dotprod(&f.k, &f.k));
                feed_cap_limits lim;
                lim.chord_tol = b.chord_tol;
                lim.centripetal = b.centripetal;
                lim.period = m.period;
                const double rho = kappa > 0 ? 1 / kappa : HUGE_VAL;
                note(slot[13], p.v[i] / chord_cap(rho, lim));
                note(slot[14], p.v[i] / centripetal_cap(rho, lim));
            }
        }
        note(slot[15], std::fabs(p.a[i]) / b.path_acc);
        note(slot[16], std::fabs(p.j[i]) / b.path_jerk);
        if (top >= 0.99) use[any].binding += step;
        s += step;
    }
    return use;
}

} // namespace nurbs_interp
