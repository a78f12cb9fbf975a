#include "shapes/reference_curves.hpp"

#include <cmath>
#include <iterator> // begin, end of the stadium's points
#include <random>
#include <vector>

namespace nurbs_interp {

namespace {

// Returns the clamped knots of n points of degree deg whose spans are drawn from `gen`, each
// 0.5 to 1.5 units long (the last one too).
std::vector<double> random_knots(std::mt19937 &gen, int n, int deg) {
    std::vector<double> knots(std::size_t(deg) + 1, 0.0);
    double k = 0;
    for (int i = 0; i < n - deg - 1; ++i)
        knots.push_back(k += std::uniform_real_distribution<double>(0.5, 1.5)(gen));
    knots.insert(knots.end(), std::size_t(deg) + 1,
                 k + std::uniform_real_distribution<double>(0.5, 1.5)(gen));
    return knots;
}

} // namespace

curve_def circle9(double R, double tilt) {
    curve_def c;
    c.deg = 2;
    c.dim = tilt != 0 ? 3 : 2;
    const double w = std::sqrt(0.5);
    const double xs[9] = {1, 1, 0, -1, -1, -1, 0, 1, 1}, ys[9] = {0, 1, 1, 1, 0, -1, -1, -1, 0};
    for (int i = 0; i < 9; ++i)
        c.points.push_back(
            {R * xs[i], R * ys[i] * std::cos(tilt), R * ys[i] * std::sin(tilt), i % 2 ? w : 1.0});
    c.knots = {0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 4};
    return c;
}

curve_def ellipse9(double a, double b) {
    curve_def c = circle9(1);
    for (nurbs_ctrl_pt &p : c.points) {
        p.x *= a;
        p.y *= b;
    }
    return c;
}

curve_def circle7(double R) {
    curve_def c;
    c.deg = 2;
    for (int k = 0; k < 3; ++k) {
        const double t = (-90 + 120 * k) * M_PI / 180, v = (-30 + 120 * k) * M_PI / 180;
        c.points.push_back({R * std::cos(t), R * std::sin(t), 0, 1});
        c.points.push_back({2 * R * std::cos(v), 2 * R * std::sin(v), 0, 0.5});
    }
    c.points.push_back(c.points.front());
    c.knots = {0, 0, 0, 1, 1, 2, 2, 3, 3, 3};
    return c;
}

curve_def stadium(double R, double L) {
    curve_def c;
    c.deg = 2;
    const double w = std::sqrt(0.5);
    // Quarter arcs about (L, R) and (0, R), edges along y = 0 and y = 2R.
    const nurbs_ctrl_pt pts[] = {{0, 0, 0, 1},      {L / 2, 0, 0, 1},     {L, 0, 0, 1},
                                 {L + R, 0, 0, w},  {L + R, R, 0, 1},     {L + R, 2 * R, 0, w},
                                 {L, 2 * R, 0, 1},  {L / 2, 2 * R, 0, 1}, {0, 2 * R, 0, 1},
                                 {-R, 2 * R, 0, w}, {-R, R, 0, 1},        {-R, 0, 0, w},
                                 {0, 0, 0, 1}};
    c.points.assign(std::begin(pts), std::end(pts));
    c.knots = {0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 6};
    return c;
}

curve_def alternating_weights(int n, double hi) {
    curve_def c;
    c.deg = 3;
    for (int i = 0; i < n; ++i)
        c.points.push_back({10.0 * i, 10.0 * ((i % 3) - 1), 0, i % 2 == 0 ? hi : 1 / hi});
    for (int i = 0; i < n + 4; ++i)
        c.knots.push_back(i <= 3 ? 0.0 : i >= n ? 1.0 : double(i - 3) / (n - 3));
    return c;
}

curve_def random_cubic(int n, unsigned seed) {
    std::mt19937 gen(seed);
    auto uniform = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(gen);
    };
    curve_def c;
    c.deg = 3;
    c.knots = random_knots(gen, n, 3);
    double x = 0, y = 0, heading = 0;
    for (int i = 0; i < n; ++i) {
        c.points.push_back({x, y, 0, uniform(0.8, 1.25)});
        heading += uniform(-35, 35) * M_PI / 180;
        const double step = uniform(20, 35);
        x += step * std::cos(heading);
        y += step * std::sin(heading);
    }
    return c;
}

curve_def degree25() {
    curve_def c;
    c.deg = 25;
    for (int i = 0; i < 26; ++i) {
        const double t = i / 25.0 * 4 * M_PI;
        c.points.push_back({60 * std::cos(t) * (1 + t / 10), 60 * std::sin(t) * (1 + t / 10), 0,
                            1 + 0.3 * std::sin(3 * t)});
    }
    c.knots.assign(26, 0.0);
    c.knots.insert(c.knots.end(), 26, 1.0);
    return c;
}

curve_def rounded_rectangle(double W, double H, double R) {
    curve_def c;
    c.deg = 2;
    const double w = std::sqrt(0.5);
    const nurbs_ctrl_pt pts[] = {{R, 0, 0, 1},     {W / 2, 0, 0, 1}, {W - R, 0, 0, 1}, {W, 0, 0, w},
                                 {W, R, 0, 1},     {W, H / 2, 0, 1}, {W, H - R, 0, 1}, {W, H, 0, w},
                                 {W - R, H, 0, 1}, {W / 2, H, 0, 1}, {R, H, 0, 1},     {0, H, 0, w},
                                 {0, H - R, 0, 1}, {0, H / 2, 0, 1}, {0, R, 0, 1},     {0, 0, 0, w},
                                 {R, 0, 0, 1}};
    c.points.assign(std::begin(pts), std::end(pts));
    c.knots = {0, 0, 0};
    for (int k = 1; k < 8; ++k)
        c.knots.insert(c.knots.end(), 2, double(k));
    c.knots.insert(c.knots.end(), 3, 8.0);
    return c;
}

curve_def ellipse_turned(double a, double b, double turn) {
    curve_def c = ellipse9(a, b);
    const double cs = std::cos(turn), sn = std::sin(turn);
    for (nurbs_ctrl_pt &p : c.points) {
        const double x = p.x, y = p.y;
        p.x = cs * x - sn * y;
        p.y = sn * x + cs * y;
    }
    c.knots = {0, 0, 0, 1, 1, 3, 3, 4, 4, 7, 7, 7};
    return c;
}

curve_def random_quartic_3d(int n, unsigned seed, double w_lo, double w_hi) {
    std::mt19937 gen(seed);
    auto uniform = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(gen);
    };
    curve_def c;
    c.deg = 4;
    c.dim = 3;
    c.knots = random_knots(gen, n, 4);
    double x = 0, y = 0, z = 0, heading = 0;
    for (int i = 0; i < n; ++i) {
        c.points.push_back({x, y, z, uniform(w_lo, w_hi)});
        heading += uniform(-150, 150) * M_PI / 180;
        const double step = uniform(5, 30);
        x += step * std::cos(heading);
        y += step * std::sin(heading);
        z += uniform(-15, 15);
    }
    c.points[n / 3].w = w_lo;
    c.points[2 * n / 3].w = w_hi;
    return c;
}

curve_def tight_bend(double half_gap) {
    curve_def c;
    const double g = 2 * half_gap;
    c.points = {{0, 0, 0, 1},  {15, 0, 0, 1}, {30, 0, 0, 1}, {38, 0, 0, 1}, {40, half_gap, 0, 1},
                {38, g, 0, 1}, {30, g, 0, 1}, {15, g, 0, 1}, {0, g, 0, 1}};
    return c;
}

curve_def spiral_pocket(int n, double r0, double pitch, double turns) {
    curve_def c;
    for (int i = 0; i < n; ++i) {
        const double theta = 2 * M_PI * turns * (double(i) / (n - 1));
        const double r = r0 + pitch * theta / (2 * M_PI);
        c.points.push_back({r * std::cos(theta), r * std::sin(theta), 0, 1});
    }
    return c;
}
} // namespace nurbs_interp
