#include "shapes/flower.hpp"

#include <cmath>
#include <vector>

namespace nurbs_interp {

namespace {

constexpr double PI = 3.14159265358979323846;

constexpr int NCP = 2000;                 // control points
constexpr int DEG = 3;                    // degree
constexpr int PETALS = 5;                 // petals of the flower
constexpr double P = 700.0;               // path length of one petal, mm
constexpr double NOTCH_TURN = 2 * PI / 3; // turn at a notch (to the right), rad
constexpr double NOTCH_W = 1.5;           // standard deviation of a notch's curvature bump, mm
constexpr double LOBE_TURN = 2 * PI / PETALS + NOTCH_TURN;
constexpr double LOBE_W = 50.0;       // standard deviation of the lobe's curvature bump, mm
constexpr double FLANK_K = 1.0 / 900; // peak flank curvature, 1/mm
constexpr double HEADING0 = PI / 2;   // heading at the start, rad

// Log of the control spacing over a petal: SPACING_A1 cos(theta) + SPACING_A2 cos(2 theta).
constexpr double SPACING_A1 = 0.6;
constexpr double SPACING_A2 = -0.95;

constexpr double WEIGHT_AMP = 0.3;       // weights 1 +- WEIGHT_AMP
constexpr double WEIGHT_PERIOD = 1130.0; // in mm of path

struct feature {
    double sigma; // arc length of the centre
    double turn;  // total turn, rad
    double width; // standard deviation of the curvature bump, mm
};

// Returns the notches and lobes, including those of the neighbouring petals before and after
// the path so that their tails reach into it as on a closed flower.
std::vector<feature> features() {
    std::vector<feature> f;
    for (int k = -1; k <= PETALS; ++k) {
        f.push_back({k * P + P / 4, -NOTCH_TURN, NOTCH_W});
        f.push_back({k * P + 3 * P / 4, LOBE_TURN, LOBE_W});
    }
    return f;
}

// Returns the heading at arc length sigma.
double heading(const std::vector<feature> &fs, double sigma) {
    double th = HEADING0 - FLANK_K * P / (2 * PI) * std::cos(2 * PI * (sigma - P / 4) / P);
    for (const feature &f : fs)
        th += f.turn * 0.5 * std::erfc(-(sigma - f.sigma) / (f.width * std::sqrt(2.0)));
    return th;
}

// The 16-point Gauss-Legendre rule as tabulated to 16 digits (Abramowitz and Stegun), half of
// it (the rule is symmetric): the flower was designed with these values, and is reproduced bit
// for bit only with them.
constexpr double GL16_TABLE_X[8] = {0.0950125098376374, 0.2816035507792589, 0.4580167776572274,
                                    0.6178762444026438, 0.7554044083550030, 0.8656312023878318,
                                    0.9445750230732326, 0.9894009349916499};
constexpr double GL16_TABLE_W[8] = {0.1894506104550685, 0.1826034150449236, 0.1691565193950025,
                                    0.1495959888165767, 0.1246289712555339, 0.0951585116824928,
                                    0.0622535239386479, 0.0271524594117541};

// Returns the integral of f over [a, b] by the tabulated 16-point Gauss-Legendre rule on `sub`
// equal parts, the symmetric nodes summed in pairs.
template <class F> double gauss(F f, double a, double b, int sub) {
    const double h = (b - a) / sub;
    double sum = 0;
    for (int k = 0; k < sub; ++k) {
        const double m = a + (k + 0.5) * h;
        double part = 0;
        for (int i = 0; i < 8; ++i)
            part += GL16_TABLE_W[i] *
                    (f(m - 0.5 * h * GL16_TABLE_X[i]) + f(m + 0.5 * h * GL16_TABLE_X[i]));
        sum += 0.5 * h * part;
    }
    return sum;
}

// Returns the arc length sigma of the flower at each control point's Greville abscissa, the
// control spacing over a petal laid out as the comment at the top of flower.hpp says.
std::vector<double> control_arc_lengths() {
    const int m = NCP - DEG; // knot spans
    const double span_per_petal = double(m) / PETALS;
    // Control spacing over the phase theta of a petal (0 at the notch, pi at the lobe), up to
    // the scale D: d(tau) = D spacing(theta), theta = theta_start + 2 pi tau / span_per_petal.
    auto spacing = [](double th) {
        return std::exp(SPACING_A1 * std::cos(th) + SPACING_A2 * std::cos(2 * th));
    };
    // sigma = k * (integral of spacing over theta), with k such that a petal is P long. The
    // spacing is symmetric about the notch and the lobe, so they fall at P/4 and 3P/4 of the
    // petal when the path starts at the phase theta_start that lies P/4 before the notch.
    const double k = P / gauss(spacing, 0, 2 * PI, 64);
    double lo = -PI, hi = 0;
    for (int it = 0; it < 60; ++it) {
        const double mid = 0.5 * (lo + hi);
        if (k * gauss(spacing, mid, 0, 16) > P / 4)
            lo = mid;
        else
            hi = mid;
    }
    const double theta_start = 0.5 * (lo + hi);

    // Greville abscissae in knot-span units, and sigma there.
    std::vector<double> tau(NCP);
    for (int i = 0; i < NCP; ++i)
        tau[i] = i == 0         ? 0.0
                 : i == 1       ? 1.0 / 3
                 : i == NCP - 2 ? m - 1.0 / 3
                 : i == NCP - 1 ? m
                                : i - 1.0;
    std::vector<double> sig(NCP);
    double theta_prev = theta_start;
    for (int i = 0; i < NCP; ++i) {
        const double th = theta_start + 2 * PI * tau[i] / span_per_petal;
        sig[i] = i == 0 ? 0.0 : sig[i - 1] + k * gauss(spacing, theta_prev, th, 2);
        theta_prev = th;
    }
    return sig;
}

} // namespace

curve_def flower_curve() {
    const std::vector<feature> fs = features();
    const std::vector<double> sig = control_arc_lengths();
    curve_def c;
    c.deg = DEG;
    c.dim = 2;
    std::vector<nurbs_ctrl_pt> &pts = c.points;
    pts.resize(NCP);
    double x = 0, y = 0;
    for (int i = 0; i < NCP; ++i) {
        if (i > 0) {
            x += gauss([&](double t) { return std::cos(heading(fs, t)); }, sig[i - 1], sig[i], 4);
            y += gauss([&](double t) { return std::sin(heading(fs, t)); }, sig[i - 1], sig[i], 4);
        }
        pts[i].x = x;
        pts[i].y = y;
        pts[i].w = 1 + WEIGHT_AMP * std::sin(2 * PI * sig[i] / WEIGHT_PERIOD);
    }
    // Centre the flower on the origin, shifted by whole millimetres.
    double cx = 0, cy = 0;
    for (const nurbs_ctrl_pt &p : pts) {
        cx += p.x;
        cy += p.y;
    }
    cx = std::round(cx / NCP);
    cy = std::round(cy / NCP);
    for (nurbs_ctrl_pt &p : pts) {
        p.x -= cx;
        p.y -= cy;
    }
    return c;
}

} // namespace nurbs_interp
