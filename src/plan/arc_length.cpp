#include "arc_length.hpp"

#include <algorithm> // upper_bound
#include <array>
#include <cmath> // cos, fabs, sqrt

namespace {

constexpr int GL_POINTS = 16; // Gauss-Legendre points per sub-interval
constexpr int GL_SUBDIV = 2;  // equal sub-intervals per integral
constexpr double PI = 3.14159265358979323846;

struct gauss_rule {
    std::array<double, GL_POINTS> x; // nodes on [-1, 1]
    std::array<double, GL_POINTS> w; // weights
};

// Returns the Gauss-Legendre rule of GL_POINTS points, nodes by Newton's method on P_n.
gauss_rule make_gauss_rule() {
    gauss_rule r{};
    const int n = GL_POINTS;
    for (int i = 0; i < n; ++i) {
        double x = std::cos(PI * (i + 0.75) / (n + 0.5));
        double dp = 0;
        for (int it = 0; it < 100; ++it) {
            double p0 = 1, p1 = x;
            for (int k = 2; k <= n; ++k) {
                const double p2 = ((2 * k - 1) * x * p1 - (k - 1) * p0) / k;
                p0 = p1;
                p1 = p2;
            }
            dp = n * (x * p1 - p0) / (x * x - 1);
            const double dx = p1 / dp;
            x -= dx;
            if (std::fabs(dx) < 1e-17) break;
        }
        r.x[i] = x;
        r.w[i] = 2 / ((1 - x * x) * dp * dp);
    }
    return r;
}

const gauss_rule &rule() {
    static const gauss_rule r = make_gauss_rule();
    return r;
}

// Returns the speed |C'(u)|.
double speed(nurbs_curve *curve, double u) {
    cart_point Pt, dPt;
    nurbs_deBoor_eval(u, -1, curve, &Pt, &dPt, nullptr, nullptr);
    return std::sqrt((dPt.x * dPt.x + dPt.y * dPt.y) + dPt.z * dPt.z);
}

} // namespace

double arc_length_in_span(nurbs_curve *curve, double a, double b) {
    const gauss_rule &r = rule();
    const double h = (b - a) / GL_SUBDIV;
    double sum = 0;
    for (int k = 0; k < GL_SUBDIV; ++k) {
        const double mid = a + (k + 0.5) * h;
        double part = 0;
        for (int i = 0; i < GL_POINTS; ++i)
            part += r.w[i] * speed(curve, mid + 0.5 * h * r.x[i]);
        sum += 0.5 * h * part;
    }
    return sum;
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
        double next = u - f / speed(tab.curve, u);
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
