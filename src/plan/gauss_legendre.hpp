// Gauss-Legendre quadrature: the rules of the planning and fitting code, in one place.
#pragma once

#include <vector>

namespace nurbs_interp {

// An n-point Gauss-Legendre rule on [-1, 1].
struct gauss_rule {
    std::vector<double> x; // nodes, descending
    std::vector<double> w; // weights
};

// Returns the n-point rule (n >= 1), nodes by Newton's method on the Legendre polynomial P_n,
// computed once per n and kept.
const gauss_rule &gauss_legendre(int n);

// Returns the integral of f over [a, b] by `rule` on `parts` equal parts; each part's sum is
// taken node by node in the rule's order, then scaled by half its width.
template <class F>
double gauss_integrate(const gauss_rule &rule, F &&f, double a, double b, int parts) {
    const double h = (b - a) / parts;
    double sum = 0;
    for (int k = 0; k < parts; ++k) {
        const double mid = a + (k + 0.5) * h;
        double part = 0;
        for (std::size_t i = 0; i < rule.x.size(); ++i)
            part += rule.w[i] * f(mid + 0.5 * h * rule.x[i]);
        sum += 0.5 * h * part;
    }
    return sum;
}

} // namespace nurbs_interp
