#include "io/curve_load.hpp"

#include <cmath>  // isfinite
#include <cstdio> // printf for the driver's fixed line

#include "io/format.hpp"
#include "io/input_file.hpp"

namespace nurbs_interp {

namespace {

bool finite_point(const nurbs_ctrl_pt &p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z) && std::isfinite(p.w);
}

// Throws when a point of `pts` is not finite, naming the array and the point.
void check_polygon(const std::vector<nurbs_ctrl_pt> &pts, const std::string &path,
                   const char *what) {
    for (std::size_t i = 0; i < pts.size(); ++i)
        if (!finite_point(pts[i]))
            throw curve_error(path + ": " + what + " " + std::to_string(i + 1) +
                              " is not finite: the coordinates and weights overflow the "
                              "arithmetic (keep |x*w| and the differences of neighbouring "
                              "points below about 1e300)");
}

bool finite(const cart_point &p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// Throws when the point, C', C'' or the speed |C'| is not finite at the start and the middle
// of a knot span or at u = 1. Spans are probed with a stride that keeps this to about 2*10^5
// evaluations, whatever the curve's size.
void check_evaluation(nurbs_curve *curve, const std::string &path) {
    const std::uint32_t spans = curve->ncp - curve->deg;
    const std::uint32_t stride = spans / 100000 + 1;
    auto probe = [&](double u) {
        cart_point P, d1, d2;
        nurbs_deBoor_eval(u, -1, curve, &P, &d1, &d2, nullptr);
        if (!finite(P) || !finite(d1) || !finite(d2) || !std::isfinite(modulus(&d1)))
            throw curve_error(path + ": the curve's evaluation at u = " + fmt("%.9g", u) +
                              " is not finite: its coordinates and weights overflow the "
                              "arithmetic (a weight near 0 beside large ones, or values near "
                              "1e300)");
    };
    for (std::uint32_t k = curve->deg; k < curve->ncp; k += stride) {
        const double u0 = curve->knots[k], u1 = curve->knots[k + 1];
        if (!(u1 > u0)) continue;
        probe(u0);
        probe(u0 + 0.5 * (u1 - u0));
    }
    probe(1.0);
}

// Throws when the loaded `curve` (named `name`) has a point that is not finite in a polygon the
// evaluator reads, or evaluates to one.
void check_loaded(nurbs_curve *curve, const std::string &name) {
    check_polygon(curve->control_points, name, "homogeneous control point");
    check_polygon(curve->control_points_1d, name, "first-derivative polygon point");
    check_polygon(curve->control_points_2d, name, "second-derivative polygon point");
    if (curve->deg >= 3)
        check_polygon(curve->control_points_3d, name, "third-derivative polygon point");
    check_evaluation(curve, name);
}

} // namespace

void report_load_error(const nurbs_file_error &error) {
    if (error.kind == nurbs_file_error::open_failed) {
        std::printf("%s", error.what());
        std::fflush(stdout);
    } else {
        std::fprintf(stderr, "%s\n", error.what());
    }
}

void load_curve_checked(const std::string &path, nurbs_curve *curve) {
    std::string error;
    const input_file f = open_input(path, "curve file", &error); // opened once: a FIFO works
    if (!f) throw curve_error(error);
    try {
        nurbs_curve_load_stream(f.get(), path, curve, nurbs_trailing::refused);
    } catch (const nurbs_file_error &e) {
        throw curve_error(e.what());
    }
    check_loaded(curve, path);
}

void load_curve_checked_def(const curve_def &def, const std::string &name, nurbs_curve *curve) {
    try {
        nurbs_curve_alloc_def(def, curve);
    } catch (const curve_def_error &e) {
        throw curve_error(name + ": " + e.what());
    }
    check_loaded(curve, name);
}

} // namespace nurbs_interp
