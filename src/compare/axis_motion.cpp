#include "compare/axis_motion.hpp"

#include <algorithm> // max
#include <utility>   // pair

#include "io/format.hpp"

namespace nurbs_interp {

namespace {

// Returns the largest ratio of a component of p to the positive limits of `limits`; NaN when
// none is positive.
double largest_ratio(const cart_point &p, const std::array<double, 3> &limits) {
    double r = NAN;
    for (int k = 0; k < 3; ++k)
        if (limits[k] > 0) {
            const double q = std::fabs(axis_component(p, k)) / limits[k];
            r = std::isnan(r) ? q : std::max(r, q);
        }
    return r;
}

// The larger of a and b, where a NaN a gives way to b.
double larger(double a, double b) {
    return std::isnan(a) ? b : std::isnan(b) ? a : std::max(a, b);
}

} // namespace

axis_difference axis_tracker_add(axis_tracker &t, const cart_point &p, double T) {
    if (t.count == 0) t.p[0] = t.p[1] = t.p[2] = p; // at rest there before
    const cart_point &a = t.p[0], &b = t.p[1], &c = t.p[2];
    const double T2 = T * T, T3 = T2 * T;
    axis_difference d;
    d.acc = {(p.x - 2 * a.x + b.x) / T2, (p.y - 2 * a.y + b.y) / T2, (p.z - 2 * a.z + b.z) / T2};
    d.jerk = {((p.x - 3 * a.x) + (3 * b.x - c.x)) / T3, ((p.y - 3 * a.y) + (3 * b.y - c.y)) / T3,
              ((p.z - 3 * a.z) + (3 * b.z - c.z)) / T3};
    t.p[2] = b;
    t.p[1] = a;
    t.p[0] = p;
    ++t.count;
    return d;
}

double axis_largest(const cart_point &p) {
    return std::max({std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
}

void axis_extremes_add(axis_extremes &e, const axis_difference &d, const machine_limits *limits) {
    e.acc_max = std::max(e.acc_max, axis_largest(d.acc));
    e.jerk_max = std::max(e.jerk_max, axis_largest(d.jerk));
    if (!limits) return;
    e.acc_ratio = larger(e.acc_ratio, largest_ratio(d.acc, limits->acc));
    e.jerk_ratio = larger(e.jerk_ratio, largest_ratio(d.jerk, limits->jerk));
}

planned_axis_motion plan_axis_motion(const feed_profile &p, const arc_table &arc, double T,
                                     const machine_limits *limits) {
    planned_axis_motion m;
    m.jerk.resize(p.v.size());
    double s = 0;
    for (std::size_t i = 0; i < p.v.size(); ++i) {
        cart_point P, d1, d2, d3, v, a, j;
        nurbs_deBoor_eval(arc_param_at(arc, s), -1, arc.curve, &P, &d1, &d2, &d3);
        compute_axial_vaj(&v, &a, &j, &d1, &d2, &d3, p.v[i], p.a[i], p.j[i]);
        // Where the curve has no tangent (a reversal, a cusp) the split is undefined; at rest
        // the axes stand still.
        const bool resting = p.v[i] == 0 && p.a[i] == 0 && p.j[i] == 0;
        if (!std::isfinite(a.x + a.y + a.z + j.x + j.y + j.z))
            a = j = resting ? cart_point{0, 0, 0} : cart_point{NAN, NAN, NAN};
        m.jerk[i] = axis_largest(j);
        if (std::isfinite(m.jerk[i])) axis_extremes_add(m.extremes, {a, j}, limits);
        if (limits && std::isfinite(v.x + v.y + v.z))
            m.vel_ratio = larger(m.vel_ratio, largest_ratio(v, limits->vel));
        s += p.v[i] * T;
    }
    return m;
}

machine_fit machine_fit_of(const planned_axis_motion &m, const machine_limits *limits) {
    machine_fit f;
    if (!limits || !machine_has_axes(*limits)) return f;
    f.machine = true;
    const std::pair<double, const char *> ratios[] = {{m.vel_ratio, "velocity"},
                                                      {m.extremes.acc_ratio, "acceleration"},
                                                      {m.extremes.jerk_ratio, "jerk"}};
    for (const auto &[r, what] : ratios)
        if (!std::isnan(r) && !(r <= f.ratio)) {
            f.ratio = r;
            f.what = what;
        }
    f.within = !(f.ratio > 1 + PLANNED_WITHIN_SLACK);
    return f;
}

std::string machine_fit_text(const machine_fit &f) {
    if (!f.machine) return "";
    const std::string plan =
        std::isnan(f.ratio)
            ? std::string("its limits bind none of the planned axis motion")
            : "the profile's own plan (compute_axial_vaj at every sample) reaches " +
                  fmt("%.3g", f.ratio) + " times an axis's " + f.what + " limit";
    if (f.within) return "the profile was planned within this machine's limits: " + plan;
    return "the profile was NOT planned for this machine: " + plan +
           ", so the axis ratios say how far the motion is from this machine, not that it passes";
}

} // namespace nurbs_interp
