// make_curve: writes the benchmark curve, a five-petal flower: round lobes with S-shaped
// flanks, joined by tight notches.
//
// The shape is given by its curvature as a function of arc length sigma (its intrinsic
// equation), so every property is set directly: a Gaussian bump of curvature turns the path by
// a chosen angle over a chosen width. Per petal of path length P:
//   notch at P/4:   turn -11*pi/12 (a right-hand return), width NOTCH_W (tight, after petals
//                   1 and 3) or NOTCH_W_WIDE
//   lobe at 3P/4:   turn 2*pi/5 + 11*pi/12 (the round end of the petal), width LOBE_W
//   flanks:         curvature FLANK_K * sin(2*pi*(sigma - P/4)/P), bowing the petals
// Five petals turn 5*(2*pi/5) = 2*pi, so the flower closes. The heading is a sum of erf terms
// and a cosine, exact in closed form; positions are integrated by Gauss-Legendre.
//
// Control points are the flower's points at arc lengths sigma(tau_i), tau_i the Greville
// abscissae of the clamped uniform knots in knot-span units (0, 1/3, 1, 2, ..., m-1, m-1/3, m),
// so that the clamped ends do not change the parameter speed. sigma(tau) solves
// d sigma / d tau = alpha / rho(sigma) with a point density rho that is high at the notches
// and falls off slowly (a sech bump: the spacing grows by at most RATE_* per mm), so |C'(u)| varies
// by a large factor while u(s) bends gently: the spacing changes by a few percent per point. The
// notch's curvature bump is several control spacings wide, so u(s) is nearly as smooth inside
// a knot span as across it. Weights vary smoothly with sigma within [0.7, 1.3]. The file name
// is the benchmark's; the curve has 2000 control points, which keeps the spacing small against
// every feature so that the 400-piece table reaches a few 1e-9 in u.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "arc_inverse.hpp"
#include "nurbs.hpp"

namespace {

constexpr double PI = 3.14159265358979323846;

constexpr int NCP = 2000;   // control points
constexpr int DEG = 3;      // degree
constexpr int PETALS = 5;   // petals of the flower
constexpr double P = 700.0; // path length of one petal, mm
constexpr double NOTCH_TURN = -11 * PI / 12;
constexpr double NOTCH_W = 2.1;      // standard deviation of a tight notch's curvature bump, mm
constexpr double NOTCH_W_WIDE = 7.0; // and of the other notches
constexpr double LOBE_TURN = 2 * PI / PETALS + 11 * PI / 12;
constexpr double LOBE_W = 50.0;       // standard deviation of the lobe's curvature bump, mm
constexpr double FLANK_K = 1.0 / 900; // peak flank curvature, 1/mm
constexpr double HEADING0 = PI / 2;   // heading at the start, rad

constexpr double SPACING_MAX = 7.0;    // control-point spacing on the flanks (unscaled), mm
constexpr double SPACING_NOTCH = 0.35; // at a tight notch
constexpr double SPACING_WIDE = 1.4;   // at the other notches
constexpr double SPACING_LOBE = 3.0;   // at a lobe
constexpr double RATE_NOTCH = 0.03;    // relative growth of the spacing per mm from a notch
constexpr double RATE_LOBE = 0.03;     // and from a lobe

constexpr double WEIGHT_AMP = 0.3;       // weights 1 +- WEIGHT_AMP
constexpr double WEIGHT_PERIOD = 1130.0; // in mm of path

struct feature {
    double sigma;   // arc length of the centre
    double turn;    // total turn, rad
    double width;   // standard deviation of the curvature bump, mm
    double spacing; // control-point spacing there, mm
    double rate;    // relative growth of the spacing per mm of distance, 1/mm
};

// Returns the notches and lobes, including those of the neighbouring petals before and after
// the path so that their tails reach into it as on a closed flower.
std::vector<feature> features() {
    std::vector<feature> f;
    for (int k = -1; k <= PETALS; ++k) {
        // Petals 1 and 3 end in tight notches, the others in wider ones.
        const bool tight = k == 1 || k == 3;
        f.push_back({k * P + P / 4, NOTCH_TURN, tight ? NOTCH_W : NOTCH_W_WIDE,
                     tight ? SPACING_NOTCH : SPACING_WIDE, RATE_NOTCH});
        f.push_back({k * P + 3 * P / 4, LOBE_TURN, LOBE_W, SPACING_LOBE, RATE_LOBE});
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

// Returns the control-point density (points per mm, before scaling) at arc length sigma.
double density(const std::vector<feature> &fs, double sigma) {
    double rho = 1 / SPACING_MAX;
    // A sech bump per feature: flat at the centre, then the spacing grows by a constant
    // factor per mm, so its relative change per mm never exceeds the feature's rate.
    for (const feature &f : fs)
        rho += (1 / f.spacing - 1 / SPACING_MAX) / std::cosh(f.rate * (sigma - f.sigma));
    return rho;
}

// 16-point Gauss-Legendre nodes and weights on [-1, 1] (half of them; symmetric).
const double GL_X[8] = {0.0950125098376374, 0.2816035507792589, 0.4580167776572274,
                        0.6178762444026438, 0.7554044083550030, 0.8656312023878318,
                        0.9445750230732326, 0.9894009349916499};
const double GL_W[8] = {0.1894506104550685, 0.1826034150449236, 0.1691565193950025,
                        0.1495959888165767, 0.1246289712555339, 0.0951585116824928,
                        0.0622535239386479, 0.0271524594117541};

// Returns the integral of f over [a, b] by 16-point Gauss-Legendre on `sub` equal parts.
template <class F> double gauss(F f, double a, double b, int sub) {
    const double h = (b - a) / sub;
    double sum = 0;
    for (int k = 0; k < sub; ++k) {
        const double m = a + (k + 0.5) * h;
        double part = 0;
        for (int i = 0; i < 8; ++i)
            part += GL_W[i] * (f(m - 0.5 * h * GL_X[i]) + f(m + 0.5 * h * GL_X[i]));
        sum += 0.5 * h * part;
    }
    return sum;
}

struct ctrl {
    double x, y, w;
};

// Returns the control points of the flower.
std::vector<ctrl> design() {
    const std::vector<feature> fs = features();
    const double L = PETALS * P;
    const int m = NCP - DEG; // knot spans
    auto rho = [&](double s) { return density(fs, s); };
    // Scale the spacing so that the m knot spans cover the path exactly:
    // d sigma / d tau = alpha / rho(sigma) with alpha = (integral of rho) / m.
    const int parts = 4000;
    double integral = 0;
    for (int k = 0; k < parts; ++k)
        integral += gauss(rho, L * k / parts, L * (k + 1) / parts, 1);
    const double alpha = integral / m;

    // Greville abscissae in knot-span units, and sigma there by the classical Runge-Kutta
    // method in tau with 96 steps per span (so that 1/3 and m - 1/3 are step points).
    std::vector<double> tau(NCP);
    for (int i = 0; i < NCP; ++i)
        tau[i] = i == 0         ? 0.0
                 : i == 1       ? 1.0 / 3
                 : i == NCP - 2 ? m - 1.0 / 3
                 : i == NCP - 1 ? m
                                : i - 1.0;
    const int steps = 96;
    const double h = 1.0 / steps;
    std::vector<double> sig(NCP);
    double s = 0;
    int step = 0;
    for (int i = 0; i < NCP; ++i) {
        const long target = std::lround(tau[i] * steps);
        for (; step < target; ++step) {
            const double k1 = alpha / rho(s);
            const double k2 = alpha / rho(s + 0.5 * h * k1);
            const double k3 = alpha / rho(s + 0.5 * h * k2);
            const double k4 = alpha / rho(s + h * k3);
            s += h / 6 * (k1 + 2 * k2 + 2 * k3 + k4);
        }
        sig[i] = s;
    }

    std::vector<ctrl> pts(NCP);
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
    for (const ctrl &c : pts) {
        cx += c.x;
        cy += c.y;
    }
    cx = std::round(cx / NCP);
    cy = std::round(cy / NCP);
    for (ctrl &c : pts) {
        c.x -= cx;
        c.y -= cy;
    }
    return pts;
}

// Writes the curve file; returns false when the file cannot be written.
bool write_curve(const std::string &path, const std::vector<ctrl> &pts) {
    const std::string tmp = path + ".tmp";
    std::FILE *f = std::fopen(tmp.c_str(), "w");
    if (!f) return false;
    std::fprintf(f, "N%d\tL%d\tD2\n", int(pts.size()), DEG);
    for (const ctrl &c : pts)
        std::fprintf(f, "X%.17g\tY%.17g\tP%.17g\n", c.x, c.y, c.w);
    const bool ok = !std::ferror(f);
    if (std::fclose(f) != 0 || !ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

// Prints the measured properties of the curve file at `path`: length, radius of curvature
// and parameter speed ranges, sampled 64 times per knot span.
int report(const std::string &path) {
    nurbs_curve curve;
    try {
        nurbs_curve_alloc_file(path.c_str(), &curve);
    } catch (const nurbs_file_error &e) {
        nurbs_report_load_error(e);
        return 1;
    }
    arc_table tab;
    arc_table_build(&curve, &tab);
    double rmin = 1e300, rmax = 0, vmin = 1e300, vmax = 0, u_rmin = 0, u_rmax = 0;
    const int per_span = 64;
    const int samples = per_span * int(curve.ncp - curve.deg);
    for (int k = 0; k <= samples; ++k) {
        const double u = double(k) / samples;
        cart_point P, d1, d2;
        nurbs_deBoor_eval(u, -1, &curve, &P, &d1, &d2, nullptr);
        const double v = std::sqrt(d1.x * d1.x + d1.y * d1.y);
        const double cr = std::fabs(d1.x * d2.y - d1.y * d2.x);
        const double r = cr > 0 ? v * v * v / cr : 1e300;
        if (r < rmin) {
            rmin = r;
            u_rmin = u;
        }
        if (r > rmax) {
            rmax = r;
            u_rmax = u;
        }
        vmin = std::fmin(vmin, v);
        vmax = std::fmax(vmax, v);
    }
    double wmin = 1e300, wmax = 0;
    for (const nurbs_ctrl_pt &c : curve.control_points) {
        wmin = std::fmin(wmin, c.w);
        wmax = std::fmax(wmax, c.w);
    }
    std::printf("control points: %u, degree %u\n", curve.ncp, curve.deg);
    std::printf("weights: %.6f .. %.6f\n", wmin, wmax);
    std::printf("length: %.9f mm\n", arc_table_length(tab));
    std::printf("radius of curvature: %.6g mm (u = %.6f) .. %.6g mm (u = %.6f)\n", rmin, u_rmin,
                rmax, u_rmax);
    std::printf("parameter speed |C'(u)|: %.6g .. %.6g mm (ratio %.3g)\n", vmin, vmax, vmax / vmin);
    return 0;
}

void usage(std::FILE *out) {
    std::fprintf(out,
                 "usage: make_curve [--help] [-o FILE] [--report FILE]\n"
                 "Writes the benchmark curve (a five-petal flower, %d control points,\n"
                 "degree %d, planar) to FILE (default S1200X30quorbel.nurbs) and prints its\n"
                 "measured length, radius-of-curvature and parameter-speed ranges.\n"
                 "  -o FILE        output path\n"
                 "  --report FILE  only print the measured properties of an existing curve file\n",
                 NCP, DEG);
}

} // namespace

int main(int argc, char **argv) {
    std::string out = "S1200X30quorbel.nurbs";
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            usage(stdout);
            return 0;
        } else if (!std::strcmp(argv[i], "-o") && i + 1 < argc) {
            out = argv[++i];
        } else if (!std::strcmp(argv[i], "--report") && i + 1 < argc) {
            return report(argv[++i]);
        } else {
            usage(stderr);
            return 2;
        }
    }
    if (!write_curve(out, design())) {
        std::fprintf(stderr, "make_curve: %s: could not write the curve file\n", out.c_str());
        return 1;
    }
    return report(out);
}
