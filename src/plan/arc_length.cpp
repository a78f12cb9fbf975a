#include "arc_length.hpp"

#include <algorithm> // upper_bound
#include <cmath>     // fabs

#include "gauss_legendre.hpp"

namespace nurbs_interp {

namespace {

constexpr int GL_POINTS = 16; // Gauss-Legendre points per part
constexpr int GL_PARTS = 2;   // equal parts per integral

} // namespace

double arc_length_in_span(nurbs_curve *curve, double a, double b) {
    static const gauss_rule &rule = gauss_legendre(GL_POINTS);
    return gauss_integrate(
        rule, [curve](double u) { return nurbs_arc_len(u, curve); }, a, b, GL_PARTS);
}

void arc_table_build(nurbs_curve *curve, arc_table *tab) {
    tab->curve = curve;
    tab->u_knot.clear();
    tab->s_knot.clear();
    for (std::uint32_t i = curve->deg; i <= curve->ncp; ++i)
        if (tab->u_knot.empty() || curve->knots[i] > tab->u_knot.back())
            tab->u_knot.push_back(curve->knots[i]);
    tab->s_knot.push_back(0.0);
    for (std::size_t k = 1; k < tab->u_knot.size(); ++k)
        tab->s_knot.push_back(tab->s_knot.back() +
                              arc_length_in_span(curve, tab->u_knot[k - 1], tab->u_knot[k]));
}

double arc_table_length(const arc_table &tab) {
    return tab.s_knot.back();
}

double arc_length_to(const arc_table &tab, double u) {
    if (u <= 0) return 0.0;
    if (u >= 1) return tab.s_knot.back();
    const std::size_t k =
        std::upper_bound(tab.u_knot.begin(), tab.u_knot.end(), u) - tab.u_knot.begin() - 1;
    return tab.s_knot[k] + arc_length_in_span(tab.curve, tab.u_knot[k], u);
}

double arc_param_at(const arc_table &tab, double s) {
    if (s <= 0) return 0.0;
    if (s >= tab.s_knot.back()) return 1.0;
    const std::size_t k =
        std::upper_bound(tab.s_knot.begin(), tab.s_knot.end(), s) - tab.s_knot.begin() - 1;
    double lo = tab.u_knot[k], hi = tab.u_knot[k + 1];
    const double s0 = tab.s_knot[k], ds = s - s0;
    double u = lo + (hi - lo) * (ds / (tab.s_knot[k + 1] - s0));
    bool last = false;
    for (int it = 0; it < 60; ++it) {
        const double f = arc_length_in_span(tab.curve, tab.u_knot[k], u) - ds;
        if (f > 0)
            hi = u;
        else
            lo = u;
        double next = u - f / nurbs_arc_len(u, tab.curve);
        if (!(next >= lo && next <= hi)) // outside the bracket (or NaN): bisect
            next = 0.5 * (lo + hi);
        const double step = std::fabs(next - u);
        u = next;
        if (last || step == 0) break;
        // Convergence is quadratic: once the step is this small the next one is the last
        // that can change anything.
        last = step < 1e-9 * (tab.u_knot[k + 1] - tab.u_knot[k]);
    }
    return u;
}

} // namespace nurbs_interp
