// make_curve: writes the benchmark curve (the flower of src/shapes/flower.hpp, whose comment
// says how it is designed) or one of the comparison suite's curves, and prints its measured
// properties. The flower's file name is the benchmark's.
#include <cmath>
#include <cstdio>
#include <string>

#include "io/atomic_file.hpp"
#include "io/curve_file.hpp"
#include "io/curve_load.hpp"
#include "plan/curve_survey.hpp"
#include "shapes/flower.hpp"
#include "shapes/reference_curves.hpp"
#include "shapes/suite_curves.hpp"
#include "core/nurbs.hpp"
#include "common/tool_cli.hpp"

using namespace nurbs_interp;

namespace {

// Prints the measured properties of `curve` (named `name`): weights, length, radius of
// curvature and parameter speed ranges, sampled 64 times per knot span, the smallest radius and
// the speed's extremes refined between the samples (the largest radius is sampled only).
int report(nurbs_curve *curve, const std::string &name) {
    const curve_survey r = survey_curve(curve, 64);
    if (!std::isfinite(r.length))
        throw curve_error(name + ": the curve's length is not finite (its arithmetic overflows)");
    std::printf("control points: %u, degree %u\n", curve->ncp, curve->deg);
    std::printf("weights: %.6g .. %.6g\n", r.wmin, r.wmax);
    std::printf("length: %.9f mm\n", r.length);
    std::printf("radius of curvature: %.6g mm (u = %.6f, refined) .. %.6g mm (u = %.6f, sampled)\n",
                r.rmin, r.u_rmin, r.rmax, r.u_rmax);
    std::printf("parameter speed |C'(u)|: %.6g .. %.6g mm (ratio %.3g; refined)\n", r.vmin, r.vmax,
                r.vmax / r.vmin);
    return EXIT_DONE;
}

// Writes the curve `shape` to `out` and reports on the curve written, checked in memory as a
// tool loads a curve file (the output is not read back: it may be a device or a FIFO).
int make(const std::string &shape, const std::string &out) {
    const curve_def def = shape == "flower"              ? flower_curve()
                          : shape == "circle"            ? suite_circle()
                          : shape == "helix"             ? suite_helix()
                          : shape == "conics"            ? suite_conics()
                          : shape == "rounded-rectangle" ? rounded_rectangle(100, 60, 10)
                          : shape == "ellipse"           ? ellipse_turned(60, 30, M_PI / 6)
                          : shape == "quartic"           ? random_quartic_3d(25, 19, 0.4, 4.3)
                          : shape == "bend"              ? tight_bend(BEND_HALF_GAP)
                          : shape == "spiral"            ? spiral_pocket(300, 2, 2, 12)
                          : shape == "cubic"             ? random_cubic(40, 2)
                                                         : degree25();
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
    "tangent-continuous (see src/shapes/suite_curves.hpp). Curves that test tables and\n"
    "interpolators (src/shapes/reference_curves.hpp): rounded-rectangle, 100 x 60 mm, corners\n"
    "of radius 10, its first joint at s = 80 mm; ellipse, 60 x 30 mm in four rational arcs\n"
    "turned 30 degrees, on knots 0,1,3,4,7; quartic, a jagged random 3D quartic of 25 points,\n"
    "weights 0.4 to 4.3; bend, a 9-point cubic hairpin whose tip has a radius of 0.07 mm;\n"
    "spiral, a 300-point cubic Archimedean spiral pocket, 12 turns of pitch 2 mm from radius\n"
    "2 mm; cubic, a smooth random 40-point cubic on non-uniform knots; degree25, one span of\n"
    "degree 25.";

int main(int argc, char **argv) {
    std::string out, report_path, shape = "flower";
    return tool_main(
        argc, argv, "make_curve", DESCRIPTION,
        OUTPUT_FILES_HELP,
        [&](CLI::App &app) {
            CLI::Option *o = app.add_option(
                "-o", out,
                "output path (default S1200X30quorbel.nurbs for the flower, else <shape>.nurbs)");
            o->type_name("FILE");
            app.add_option("--shape", shape,
                           "flower, circle, helix, conics, rounded-rectangle, ellipse, quartic, "
                           "bend, spiral, cubic or degree25")
                ->check(
                    CLI::IsMember({"flower", "circle", "helix", "conics", "rounded-rectangle",
                                   "ellipse", "quartic", "bend", "spiral", "cubic", "degree25"}))
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
