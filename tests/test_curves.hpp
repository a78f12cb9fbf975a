// The curves with known answers (reference_curves.hpp) loaded for a test, and an independent
// reference for their lengths.
#pragma once

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "core/curve_def.hpp"
#include "core/nurbs.hpp"
#include "plan/arc_length.hpp"
#include "plan/gauss_legendre.hpp"
#include "shapes/reference_curves.hpp"

namespace test_curves {

using namespace nurbs_interp;

// Loads `c` into `curve`, in memory.
inline void load(const curve_def &c, nurbs_curve *curve) {
    nurbs_interp::nurbs_curve_alloc_def(c, curve);
}

// A curve made from a definition, loaded, and its arc table.
struct measured_curve {
    nurbs_curve curve;
    arc_table arc;
    explicit measured_curve(const curve_def &d) {
        load(d, &curve);
        arc_table_build(&curve, &arc);
    }
};

// Returns the integral of |C'| over [a, b] by composite 20-point Gauss-Legendre on 2^k equal
// parts, k raised until two results agree to 1e-15 (from 4 parts on, at most 2^10 parts).
inline long double composite_length(nurbs_curve *c, double a, double b) {
    const nurbs_interp::gauss_rule &r = nurbs_interp::gauss_legendre(20);
    long double prev = -1;
    for (int k = 0;; ++k) {
        const long parts = 1L << k;
        const double h = (b - a) / parts;
        long double sum = 0;
        for (long p = 0; p < parts; ++p) {
            const double m = a + (p + 0.5) * h;
            long double part = 0;
            for (std::size_t j = 0; j < r.x.size(); ++j)
                part += r.w[j] * nurbs_arc_len(m + 0.5 * h * r.x[j], c);
            sum += 0.5L * h * part;
        }
        if ((k >= 2 && std::fabs(double(sum - prev)) <= 1e-15 * double(sum)) || k == 10) return sum;
        prev = sum;
    }
}

// An independent reference length of [a, b] inside one span: each half cut into intervals
// that halve toward the span's end (down to 2^-40 of the span), each integrated by
// composite_length. Slow; it resolves what happens close to a knot as far as the parameter's
// doubles do (not a rush onto the curve's end within 1e-16 of u = 1).
inline double reference_length(nurbs_curve *c, double a, double b) {
    const double mid = 0.5 * (a + b), h = 0.5 * (b - a);
    long double total = 0;
    for (int side = 0; side < 2; ++side) {
        double outer = side == 0 ? a : b, prev = mid;
        for (int j = 1; j <= 40; ++j) {
            const double next = outer + (side == 0 ? 1 : -1) * h * std::ldexp(1.0, -j);
            total += side == 0 ? composite_length(c, next, prev) : composite_length(c, prev, next);
            prev = next;
        }
        total += side == 0 ? composite_length(c, outer, prev) : composite_length(c, prev, outer);
    }
    return double(total);
}

// The reference length of the whole curve, span by span.
inline double reference_length(nurbs_curve *c) {
    long double total = 0;
    for (unsigned i = c->deg; i < c->ncp; ++i)
        if (c->knots[i + 1] > c->knots[i])
            total += reference_length(c, c->knots[i], c->knots[i + 1]);
    return double(total);
}

} // namespace test_curves
