#include "plan/curve_survey.hpp"

#include <algorithm> // min, max, sort
#include <cmath>     // HUGE_VAL, nextafter, sqrt
#include <vector>

#include "plan/arc_length.hpp"
#include "plan/joints.hpp" // eval_left_of_knot

namespace nurbs_interp {

namespace {

// Radius of curvature and speed at one parameter.
struct point_props {
    double u, rho, v;
};

// Returns them at u, from the left of the knot u when `left`.
point_props props_at(nurbs_curve *curve, double u, bool left) {
    cart_point P, d1, d2;
    if (left)
        eval_left_of_knot(curve, u, &P, &d1, &d2, nullptr);
    else
        nurbs_deBoor_eval(u, -1, curve, &P, &d1, &d2, nullptr);
    return {u, curvature_rad_at_point(&d1, &d2), modulus(&d1)};
}

// Returns the u in [a, b] where f is least (f unimodal there), by golden-section search down to
// the resolution of u, and f there.
template <class F> std::pair<double, double> golden_min(F f, double a, double b) {
    const double g = (std::sqrt(5.0) - 1) / 2;
    double x1 = b - g * (b - a), x2 = a + g * (b - a);
    double f1 = f(x1), f2 = f(x2);
    for (int it = 0; it < 100 && x1 < x2; ++it) {
        if (f1 <= f2) {
            b = x2;
            x2 = x1;
            f2 = f1;
            x1 = b - g * (b - a);
            f1 = f(x1);
        } else {
            a = x1;
            x1 = x2;
            f1 = f2;
            x2 = a + g * (b - a);
            f2 = f(x2);
        }
    }
    return f1 <= f2 ? std::pair{x1, f1} : std::pair{x2, f2};
}

// The samples of one knot span, in ascending u (its end from inside it).
struct span_samples {
    double u0, u1; // the span
    std::vector<point_props> p;
};

// Refines the least of key(p) over the spans: the SURVEY_REFINE smallest sampled local minima,
// each searched between its neighbours inside its span. Returns the least found (a sample
// itself when nothing between samples is less) and counts the evaluations.
template <class Key>
point_props refine_least(nurbs_curve *curve, const std::vector<span_samples> &spans, Key key,
                         long &evaluations) {
    struct candidate {
        double value;
        std::size_t span, i;
    };
    std::vector<candidate> minima;
    for (std::size_t k = 0; k < spans.size(); ++k) {
        const std::vector<point_props> &p = spans[k].p;
        for (std::size_t i = 0; i < p.size(); ++i) {
            const double v = key(p[i]);
            if ((i == 0 || v <= key(p[i - 1])) && (i + 1 == p.size() || v <= key(p[i + 1])))
                minima.push_back({v, k, i});
        }
    }
    std::sort(minima.begin(), minima.end(),
              [](const candidate &a, const candidate &b) { return a.value < b.value; });
    point_props best{0, HUGE_VAL, HUGE_VAL};
    bool first = true;
    for (std::size_t c = 0; c < minima.size() && c < std::size_t(SURVEY_REFINE); ++c) {
        const span_samples &s = spans[minima[c].span];
        const std::size_t i = minima[c].i;
        const point_props &here = s.p[i];
        if (first || key(here) < key(best)) best = here;
        first = false;
        // Between the neighbours, inside the span (its end is taken from inside it).
        const double end = std::nextafter(s.u1, s.u0);
        const double a = i > 0 ? s.p[i - 1].u : s.u0;
        const double b = i + 1 < s.p.size() ? std::min(s.p[i + 1].u, end) : end;
        if (!(a < b)) continue;
        const auto f = [&](double u) {
            ++evaluations;
            return key(props_at(curve, u, false));
        };
        const auto [u, value] = golden_min(f, a, b);
        if (value < key(best)) best = props_at(curve, u, false);
    }
    return best;
}

} // namespace

curve_survey survey_curve(nurbs_curve *curve, int per_span) {
    curve_survey r;
    arc_table tab;
    arc_table_build(curve, &tab);
    r.length = arc_table_length(tab);
    r.wmin = r.rmin = r.vmin = HUGE_VAL;
    r.wmax = r.rmax = r.vmax = -HUGE_VAL;
    for (const nurbs_ctrl_pt &c : curve->control_points) {
        r.wmin = std::min(r.wmin, c.w);
        r.wmax = std::max(r.wmax, c.w);
    }
    // Every non-empty knot span, from its start to its end from inside it (the next span's
    // start is on its far side).
    std::vector<span_samples> spans;
    for (std::uint32_t i = curve->deg; i < curve->ncp; ++i) {
        const double u0 = curve->knots[i], u1 = curve->knots[i + 1];
        if (!(u1 > u0)) continue;
        span_samples s{u0, u1, {}};
        for (int k = 0; k < per_span; ++k)
            s.p.push_back(props_at(curve, u0 + (u1 - u0) * (double(k) / per_span), false));
        s.p.push_back(props_at(curve, u1, u1 < 1));
        spans.push_back(std::move(s));
    }
    for (const span_samples &s : spans)
        for (const point_props &p : s.p) {
            ++r.samples;
            if (p.rho > r.rmax) {
                r.rmax = p.rho;
                r.u_rmax = p.u;
            }
        }
    const point_props rmin = refine_least(
        curve, spans, [](const point_props &p) { return p.rho; }, r.samples);
    const point_props vmin = refine_least(
        curve, spans, [](const point_props &p) { return p.v; }, r.samples);
    const point_props vmax = refine_least(
        curve, spans, [](const point_props &p) { return -p.v; }, r.samples);
    r.rmin = rmin.rho;
    r.u_rmin = rmin.u;
    r.vmin = vmin.v;
    r.vmax = vmax.v;
    return r;
}

} // namespace nurbs_interp
