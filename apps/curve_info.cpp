// curve_info: loads a curve file and prints its control-point count, degree and length.
#include <cmath>
#include <cstdio>

#include "curve_load.hpp"
#include "nurbs.hpp"
#include "tool_cli.hpp"

using namespace nurbs_interp;

const char *const DESCRIPTION =
    "Loads a curve file and prints its number of control points, its degree and its length\n"
    "from u = 0 to 1, measured by adaptive Simpson quadrature of |C'(u)| with tolerance 1e-9\n"
    "and recursion depth 30, in the length unit of the file.";

int main(int argc, char **argv) {
    std::string path = "./../curve.nurbs";
    return tool_main(
        argc, argv, "curve_info", DESCRIPTION, "A curve whose length is not finite is refused.",
        [&](CLI::App &app) {
            app.add_option("CURVE", path, "curve file")->type_name("CURVE")->capture_default_str();
        },
        [&] {
            nurbs_curve curve;
            load_curve_checked(path, &curve);
            const double len = adaptiveSimpsons(nurbs_arc_len, &curve, 0.0, 1.0, 1e-9, 30);
            if (!std::isfinite(len))
                throw curve_error(path + ": the curve's length is not finite (its arithmetic "
                                         "overflows)");
            std::printf("control points: %u\ndegree: %u\nlength: %.9f\n", curve.ncp, curve.deg,
                        len);
            return EXIT_DONE;
        });
}
