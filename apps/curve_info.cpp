// curve_info: loads a curve file and prints what it is: control points, degree, dimension, its
// length, its joints and corners with their arc lengths, and the box it fits in.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "common/tool_cli.hpp"
#include "core/nurbs.hpp"
#include "io/curve_load.hpp"
#include "io/format.hpp"
#include "plan/arc_length.hpp"
#include "plan/curve_length.hpp"
#include "plan/joints.hpp"

using namespace nurbs_interp;

namespace {

const char *const DESCRIPTION =
    "Loads a curve file and prints, in millimetres (the unit of the file's coordinates): its\n"
    "number of control points, degree and dimension (2 when every control point lies in the\n"
    "plane z = 0, else 3); its length from u = 0 to 1, the integral\n"
    "of |C'(u)| over each knot span by adaptive Gauss-Kronrod quadrature (7-15 points, parts\n"
    "halved until their error estimates sum to at most 1e-13 of the span), the spans added up:\n"
    "the length every tool prints and uses; its joints (knots repeated at least degree - 1\n"
    "times, where |C'| or C'' may jump) and corners (joints where the tangent turns by more\n"
    "than 1e-6 rad, or C' vanishes on a side), each with its parameter and arc length; and its\n"
    "extent, the smallest box holding the curve (sampled 64 times per knot span, each extreme\n"
    "refined by golden-section search between the samples beside it).";

// The joints or corners listed by name, at most this many.
constexpr std::size_t MAX_LISTED = 12;

// Samples per knot span for the extent.
constexpr int EXTENT_SAMPLES = 64;

// Returns coordinate k (0: x, 1: y, 2: z) of the curve at u.
double coordinate(nurbs_curve *curve, double u, int k) {
    cart_point p;
    nurbs_deBoor_eval(u, -1, curve, &p, nullptr, nullptr, nullptr);
    return k == 0 ? p.x : k == 1 ? p.y : p.z;
}

// Returns the extreme (largest for sign 1, smallest for -1) of coordinate k over [a, b], by
// golden-section search (the coordinate taken as unimodal there), with the ends included.
double refine(nurbs_curve *curve, double a, double b, int k, double sign) {
    const double g = (std::sqrt(5.0) - 1) / 2;
    double best = std::max(sign * coordinate(curve, a, k), sign * coordinate(curve, b, k));
    double x1 = b - g * (b - a), x2 = a + g * (b - a);
    double f1 = sign * coordinate(curve, x1, k), f2 = sign * coordinate(curve, x2, k);
    for (int it = 0; it < 80 && b - a > 1e-15; ++it) {
        if (f1 < f2) {
            a = x1;
            x1 = x2;
            f1 = f2;
            x2 = a + g * (b - a);
            f2 = sign * coordinate(curve, x2, k);
        } else {
            b = x2;
            x2 = x1;
            f2 = f1;
            x1 = b - g * (b - a);
            f1 = sign * coordinate(curve, x1, k);
        }
    }
    return sign * std::max({best, f1, f2});
}

// The smallest box holding the curve: per coordinate its least and largest value.
struct extent {
    double lo[3], hi[3];
};

// Returns the curve's extent (see DESCRIPTION).
extent curve_extent(nurbs_curve *curve, const arc_table &arc) {
    std::vector<double> u;
    for (std::size_t s = 0; s + 1 < arc.u_knot.size(); ++s)
        for (int i = 0; i < EXTENT_SAMPLES; ++i)
            u.push_back(arc.u_knot[s] + (arc.u_knot[s + 1] - arc.u_knot[s]) * i / EXTENT_SAMPLES);
    u.push_back(1.0);
    extent e;
    for (int k = 0; k < 3; ++k)
        for (const double sign : {-1.0, 1.0}) {
            std::size_t at = 0;
            double best = -HUGE_VAL;
            for (std::size_t i = 0; i < u.size(); ++i)
                if (const double c = sign * coordinate(curve, u[i], k); c > best) {
                    best = c;
                    at = i;
                }
            const double x =
                refine(curve, u[at ? at - 1 : 0], u[std::min(at + 1, u.size() - 1)], k, sign);
            (sign < 0 ? e.lo : e.hi)[k] = sign < 0 ? std::min(x, -best) : std::max(x, best);
        }
    return e;
}

// Returns the line listing knots `us` of kind `what` ("joints", "corners") with their arc
// lengths, the first MAX_LISTED of them.
std::string knot_list(const char *what, const char *about, const std::vector<double> &us,
                      const arc_table &arc) {
    std::string line = std::string(what) + ": " + std::to_string(us.size());
    if (us.empty()) return line + "\n";
    line += std::string(" (") + about + "), at u (s in mm):\n ";
    std::size_t width = 1; // of the line being filled
    for (std::size_t k = 0; k < std::min(us.size(), MAX_LISTED); ++k) {
        const std::string item = " " + fmt("%.9g", us[k]) + " (" +
                                 fmt("%.6f", arc_length_to(arc, us[k])) + ")" +
                                 (k + 1 < us.size() ? "," : "");
        if (width + item.size() > 100) {
            line += "\n ";
            width = 1;
        }
        line += item;
        width += item.size();
    }
    if (us.size() > MAX_LISTED) line += " and " + std::to_string(us.size() - MAX_LISTED) + " more";
    return line + "\n";
}

} // namespace

int main(int argc, char **argv) {
    std::string path;
    return tool_main(
        argc, argv, "curve_info", DESCRIPTION,
        std::string("A curve whose length is not finite, or is zero, is refused.\n\nBundled "
                    "data: ") +
            DEFAULT_DATA_RULE,
        [&](CLI::App &app) {
            app.add_option("CURVE", path,
                           "curve file (default: the bundled data/S1200X30quorbel.nurbs, see "
                           "below)")
                ->type_name("CURVE");
        },
        [&] {
            if (path.empty()) path = default_data("data/S1200X30quorbel.nurbs");
            nurbs_curve curve;
            load_curve_checked(path, &curve);
            arc_table arc;
            tool_arc_table(&curve, path, "curve_info", &arc);
            const extent e = curve_extent(&curve, arc);
            bool planar = true; // every control point in the plane z = 0
            for (const nurbs_ctrl_pt &p : curve.control_points)
                planar = planar && p.z == 0;
            std::printf("curve: %s\ncontrol points: %u\ndegree: %u\n", path.c_str(), curve.ncp,
                        curve.deg);
            std::printf("dimension: %s\nlength: %.9f mm\n",
                        planar ? "2 (every control point in the plane z = 0)"
                               : "3 (control points off the plane z = 0)",
                        arc_table_length(arc));
            std::fputs(knot_list("joints", "knots repeated at least degree - 1 times",
                                 curve_joints(curve), arc)
                           .c_str(),
                       stdout);
            std::fputs(
                knot_list("corners", "joints where the tangent turns", curve_corners(&curve), arc)
                    .c_str(),
                stdout);
            std::printf("extent: x %.9g .. %.9g mm, y %.9g .. %.9g mm", e.lo[0], e.hi[0], e.lo[1],
                        e.hi[1]);
            if (!planar) std::printf(", z %.9g .. %.9g mm", e.lo[2], e.hi[2]);
            std::printf(" (%.9g x %.9g", e.hi[0] - e.lo[0], e.hi[1] - e.lo[1]);
            if (!planar) std::printf(" x %.9g", e.hi[2] - e.lo[2]);
            std::printf(" mm)\n");
            return EXIT_DONE;
        });
}
