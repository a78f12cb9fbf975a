// make_curve: writes the benchmark curve, a five-petal flower: round lobes with S-shaped
// flanks, joined by sharp notches. The path is closed and never crosses itself.
//
// The shape is given by its curvature as a function of arc length sigma (its intrinsic
// equation), so every property is set directly: a Gaussian bump of curvature turns the path by
// a chosen angle over a chosen width. Per petal of path length P:
//   notch at P/4:   turn -NOTCH_TURN (a right-hand return), width NOTCH_W: radius of curvature
//                   1.74 mm at its apex
//   lobe at 3P/4:   turn 2*pi/5 + NOTCH_TURN (the round end of the petal), width LOBE_W
//   flanks:         curvature FLANK_K * sin(2*pi*(sigma - P/4)/P), bowing the petals
// The five petals are identical and turn 5*(2*pi/5) = 2*pi, so the flower closes on itself.
// The heading is a sum of erf terms and a cosine, exact in closed form; positions are
// integrated by Gauss-Legendre.
//
// Control points are the flower's points at arc lengths sigma(tau_i), tau_i the Greville
// abscissae of the clamped uniform knots in knot-span units (0, 1/3, 1, 2, ..., m-1, m-1/3, m),
// so that the clamped ends do not change the parameter speed. The control spacing d = dsigma/dtau
// is a smooth periodic function of the knot-span index, one period per petal:
//   d = D exp(SPACING_A1 cos(theta) + SPACING_A2 cos(2 theta)),
// theta = 0 at a notch and pi at a lobe,
// so the spacing is closest at the lobes (the slowest parameter speed), about three times as
// wide at the notches and widest on the flanks; |C'(u)| = m d varies by more than 10x.
// What the feedrate correction table has to follow is u(s), and two things make u(s) hard to
// fit: the third derivative of u(s) jumps at every knot (C''' of a cubic is piecewise constant;
// the jump grows with the rate of change of curvature and of the spacing from one span to the
// next), and u(s) bends where the spacing changes quickly per millimetre. Hence the spacing
// changes by at most 4 % per knot span and is nearly uniform over a notch; at the notches,
// where the curvature changes fastest, table pieces cannot reach across a knot, so the notches
// get a wider spacing than the lobes (fewer, longer spans there) and the slow parameter speed
// sits on the lobes, where the curvature changes slowly. Weights vary smoothly with sigma
// within [0.7, 1.3]. The file name is the benchmark's.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "io/atomic_file.hpp"
#include "io/curve_file.hpp"
#include "io/curve_load.hpp"
#include "plan/curve_survey.hpp"
#include "plan/gauss_legendre.hpp"
#include "plan/suite_curves.hpp"
#include "core/nurbs.hpp"
#include "common/tool_cli.hpp"

using namespace nurbs_interp;

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

// Returns the flower: its control points, clamped uniform knots (none given).
curve_def design() {
    const std::vector<feature> fs = features();
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

// Prints the measured properties of `curve` (named `name`): weights, length, radius of
// curvature and parameter speed ranges, sampled 64 times per knot span.
int report(nurbs_curve *curve, const std::string &name) {
    const curve_survey r = survey_curve(curve, 64);
    if (!std::isfinite(r.length))
        throw curve_error(name + ": the curve's length is not finite (its arithmetic overflows)");
    std::printf("control points: %u, degree %u\n", curve->ncp, curve->deg);
    std::printf("weights: %.6g .. %.6g\n", r.wmin, r.wmax);
    std::printf("length: %.9f mm\n", r.length);
    std::printf("radius of curvature: %.6g mm (u = %.6f) .. %.6g mm (u = %.6f)\n", r.rmin, r.u_rmin,
                r.rmax, r.u_rmax);
    std::printf("parameter speed |C'(u)|: %.6g .. %.6g mm (ratio %.3g)\n", r.vmin, r.vmax,
                r.vmax / r.vmin);
    return EXIT_DONE;
}

// Writes the curve `shape` to `out` and reports on the curve written, checked in memory as a
// tool loads a curve file (the output is not read back: it may be a device or a FIFO).
int make(const std::string &shape, const std::string &out) {
    const curve_def def = shape == "flower"   ? design()
                          : shape == "circle" ? suite_circle()
                          : shape == "helix"  ? suite_helix()
                                              : suite_conics();
    write_file_atomically(out, [&](std::FILE *f) { curve_file_write(f, def); });
    nurbs_curve curve;
    load_curve_checked_def(def, out, &curve);
    return report(&curve, out);
}

} // namespace

const char *const DESCRIPTION =
    "Writes a curve and prints its measured length, radius-of-curvature and parameter-speed\n"
    "ranges (all three coordinates). --shape flower (default): the benchmark curve, a closed\n"
    "five-petal flower, 2000 control points, degree 3, planar. The curves of the comparison\n"
    "suite: circle, a full circle of radius 50 mm, degree 2, exact, with a non-uniform knot\n"
    "vector; helix, three turns of radius 40 mm and pitch 10 mm, a rational cubic in 3D;\n"
    "conics, a chain of an elliptical, a parabolic, a hyperbolic and a circular arc, degree 2,\n"
    "tangent-continuous (see src/plan/suite_curves.hpp).";

int main(int argc, char **argv) {
    std::string out, report_path, shape = "flower";
    return tool_main(
        argc, argv, "make_curve", DESCRIPTION,
        with_outputs_help(
            "The output is written under a temporary name and renamed when complete."),
        [&](CLI::App &app) {
            CLI::Option *o = app.add_option(
                "-o", out,
                "output path (default S1200X30quorbel.nurbs for the flower, else <shape>.nurbs)");
            o->type_name("FILE");
            app.add_option("--shape", shape, "flower, circle, helix or conics")
                ->check(CLI::IsMember({"flower", "circle", "helix", "conics"}))
                ->capture_default_str();
            app.add_option("--report", report_path,
                           "only print the measured properties of an existing curve file")
                ->type_name("FILE")
                ->excludes(o);
        },
        [&] {
            if (!report_path.empty()) {
                nurbs_curve curve;
                load_curve_checked(report_path, &curve);
                return report(&curve, report_path);
            }
            remove_temporaries_on_signal();
            if (out.empty()) out = shape == "flower" ? "S1200X30quorbel.nurbs" : shape + ".nurbs";
            return make(shape, out);
        });
}
