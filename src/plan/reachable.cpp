#include "plan/reachable.hpp"

#include <algorithm> // max, min, swap
#include <cmath>     // fabs

namespace nurbs_interp {

acc_range acc_range_at(const path_frame &f, const feed_bounds &b, double x, double scale) {
    acc_range r;
    if (b.path_acc < HUGE_VAL) r = {-scale * b.path_acc, scale * b.path_acc};
    for (int k = 0; k < 3; ++k) {
        const double A = scale * b.machine.acc[k];
        if (!(A > 0)) continue;
        const double t = axis_component(f.t, k), kap = axis_component(f.k, k);
        if (t == 0) {
            if (std::fabs(kap) * x > A) return {HUGE_VAL, -HUGE_VAL};
            continue;
        }
        double lo = (-A - kap * x) / t, hi = (A - kap * x) / t;
        if (lo > hi) std::swap(lo, hi);
        r.lo = std::max(r.lo, lo);
        r.hi = std::min(r.hi, hi);
    }
    return r;
}

double acc_feed_cap(const path_frame &f, const feed_bounds &b, double cap, double scale) {
    auto fits = [&](double x) {
        const acc_range r = acc_range_at(f, b, x, scale);
        return r.lo <= r.hi;
    };
    if (fits(cap)) return cap;
    double lo = 0, hi = cap;
    for (int it = 0; it < 80 && hi - lo > 1e-14 * cap; ++it) {
        const double mid = 0.5 * (lo + hi);
        (fits(mid) ? lo : hi) = mid;
    }
    return lo;
}

std::vector<double> reachable_feed(const std::vector<path_node> &nodes, const feed_bounds &b,
                                   const std::vector<double> &cap, double x_start, double x_end,
                                   double scale) {
    const std::size_t n = nodes.size();
    std::vector<double> x(cap);
    x[0] = x_start;
    x[n - 1] = x_end;
    for (std::size_t i = 0; i + 1 < n; ++i) {
        const double h = nodes[i + 1].s - nodes[i].s;
        const acc_range r = acc_range_at(nodes[i].right, b, x[i], scale);
        if (r.lo <= r.hi) x[i + 1] = std::min(x[i + 1], x[i] + 2 * h * r.hi);
        x[i + 1] = std::max(x[i + 1], 0.0);
    }
    for (std::size_t i = n - 1; i > 0; --i) {
        const double h = nodes[i].s - nodes[i - 1].s;
        const acc_range r = acc_range_at(nodes[i].left, b, x[i], scale);
        if (r.lo <= r.hi) x[i - 1] = std::min(x[i - 1], x[i] - 2 * h * r.lo);
        x[i - 1] = std::max(x[i - 1], 0.0);
    }
    return x;
}

} // namespace nurbs_interp
