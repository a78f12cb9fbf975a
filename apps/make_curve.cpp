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
#include "shapes/suite_curves.hpp"
#include "core/nurbs.hpp"
#include "common/tool_cli.hpp"

using namespace nurbs_interp;

namespace {

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
    const curve_def def = shape == "flower"   ? flower_curve()
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
    "tangent-continuous (see src/shapes/suite_curves.hpp).";

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
