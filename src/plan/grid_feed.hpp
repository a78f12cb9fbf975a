// A feed along a grid in arc length, held as its square x(s) = v(s)^2: at each node x and its
// slope x' = 2a (a the path acceleration); between nodes x is the quadratic with those slopes,
// so that x'' is constant on each interval (the path jerk there is v x''/2), the acceleration
// is continuous and linear in s, and x at the far node is x_i + h (x'_i + x'_{i+1}) / 2.
#pragma once

#include <cstddef>
#include <vector>

namespace nurbs_interp {

struct grid_feed {
    std::vector<double> s; // node arc lengths, ascending, mm
    std::vector<double> x; // v^2 at the nodes, mm^2/s^2
    std::vector<double> d; // dx/ds at the nodes, mm/s^2
};

// x, x' and x'' at one place.
struct feed_square {
    double x = 0, dx = 0, ddx = 0;
};

// Returns x and its derivatives at s on interval i (s[i] <= s <= s[i+1]).
inline feed_square grid_feed_at(const grid_feed &g, std::size_t i, double s) {
    const double h = g.s[i + 1] - g.s[i], q = s - g.s[i];
    feed_square r;
    r.ddx = (g.d[i + 1] - g.d[i]) / h;
    r.dx = g.d[i] + r.ddx * q;
    r.x = g.x[i] + (g.d[i] + 0.5 * r.ddx * q) * q;
    return r;
}

} // namespace nurbs_interp
