// curve_info: loads a curve file and prints its control-point count, degree and length.
#include <cmath>
#include <cstdio>

#include "plan/curve_length.hpp"
#include "io/curve_load.hpp"
#include "core/nurbs.hpp"
#include "common/tool_cli.hpp"

using namespace nurbs_interp;

const char *const DESCRIPTION =
    "Loads a curve file and prints its number of control points, its degree and its length\n"
    "from u = 0 to 1 in the length unit of the file: the integral of |C'(u)| over each knot\n"
    "span by adaptive Gauss-Kronrod quadrature (7-15 points, parts halved until their error\n"
    "estimates sum to at most 1e-13 of the span), the spans added up. The length every tool\n"
    "prints and uses.";

int main(int argc, char **argv) {
    std::string path = "./../curve.nurbs";
    return tool_main(
        argc, argv, "curve_info", DESCRIPTION,
        "A curve whose length is not finite, or is zero, is refused.",
        [&](CLI::App &app) {
            app.add_option("CURVE", path, "curve file")->type_name("CURVE")->capture_default_str();
        },
        [&] {
            nurbs_curve curve;
            load_curve_checked(path, &curve);
            arc_table arc;
            tool_arc_table(&curve, path, "curve_info", &arc);
            std::printf("control points: %u\ndegree: %u\nlength: %.9f\n", curve.ncp, curve.deg,
                        arc_table_length(arc));
            return EXIT_DONE;
        });
}
