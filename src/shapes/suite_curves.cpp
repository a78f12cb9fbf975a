#include "shapes/suite_curves.hpp"

#include <cmath>

namespace nurbs_interp {

namespace {

constexpr double PI = 3.14159265358979323846;

// Appends the arc P0 P1 P2 with middle weight w to a chain of degree-2 spans: P0 must be the
// chain's last point (or the chain empty); the span gets the raw knot length `len`.
void add_arc(curve_def &c, nurbs_ctrl_pt p0, nurbs_ctrl_pt p1, nurbs_ctrl_pt p2, double len) {
    if (c.points.empty()) {
        c.points.push_back(p0);
        c.knots = {0.0, 0.0, 0.0};
    } else {
        c.knots.push_back(c.knots.back()); // doubled: the join of two arcs
    }
    c.points.push_back(p1);
    c.points.push_back(p2);
    c.knots.push_back(c.knots.back() + len);
}

// Closes the knot vector of a chain of degree-2 spans: its last knot three times.
void close_chain(curve_def &c) {
    c.knots.push_back(c.knots.back());
    c.knots.push_back(c.knots.back());
}

} // namespace

curve_def suite_circle() {
    curve_def c;
    c.deg = 2;
    const double R = 50, w = std::sqrt(0.5);
    const double xs[9] = {1, 1, 0, -1, -1, -1, 0, 1, 1}, ys[9] = {0, 1, 1, 1, 0, -1, -1, -1, 0};
    for (int i = 0; i < 9; ++i)
        c.points.push_back({R * xs[i], R * ys[i], 0.0, i % 2 ? w : 1.0});
    c.knots = {0, 0, 0, 1, 1, 3, 3, 4, 4, 7, 7, 7};
    return c;
}

curve_def suite_helix() {
    curve_def c;
    c.deg = 3;
    c.dim = 3;
    const int n = 120, m = n - 3; // control points, knot spans
    const double R = 40, pitch = 10, turns = 3;
    for (int i = 0; i < n + 4; ++i)
        c.knots.push_back(i <= 3 ? 0.0 : i >= n ? 1.0 : double(i - 3) / m);
    for (int i = 0; i < n; ++i) {
        const double g = (c.knots[i + 1] + c.knots[i + 2] + c.knots[i + 3]) / 3; // Greville
        const double a = 2 * PI * turns * g;
        c.points.push_back({R * std::cos(a), R * std::sin(a), pitch * turns * g,
                            1 + 0.2 * std::sin(5 * a / turns)});
    }
    return c;
}

curve_def suite_conics() {
    curve_def c;
    c.deg = 2;
    using P = nurbs_ctrl_pt;
    auto chord = [](const P &a, const P &b) { return std::hypot(b.x - a.x, b.y - a.y); };
    const double h = std::sqrt(0.5);
    // Ellipse quarter from (60, 0) to (0, 30): the affine image of the circular quarter.
    const P e0{60, 0, 0, 1}, e1{60, 30, 0, h}, e2{0, 30, 0, 1};
    add_arc(c, e0, e1, e2, chord(e0, e2));
    // Parabola on, leaving along -x (the ellipse's end tangent).
    const P p1{-30, 30, 0, 1}, p2{-40, 0, 0, 1};
    add_arc(c, e2, p1, p2, chord(e2, p2));
    // Hyperbola on, leaving along p2 - p1 = (-10, -30).
    const P q1{-50, -30, 0, 2}, q2{-20, -50, 0, 1};
    add_arc(c, p2, q1, q2, chord(p2, q2));
    // Circular quarter of radius 20 turning left from the hyperbola's end tangent q2 - q1.
    const double tx = q2.x - q1.x, ty = q2.y - q1.y, tl = std::hypot(tx, ty), r = 20;
    const P c1{q2.x + r * tx / tl, q2.y + r * ty / tl, 0, h};
    const P c2{c1.x - r * ty / tl, c1.y + r * tx / tl, 0, 1};
    add_arc(c, q2, c1, c2, chord(q2, c2));
    close_chain(c);
    return c;
}

} // namespace nurbs_interp
