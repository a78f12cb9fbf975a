// curve_info: loads a curve file and prints its control-point count, degree and length.
#include <cstdio>

#include "curve_load.hpp"
#include "nurbs.hpp"
#include "tool_cli.hpp"

using namespace nurbs_interp;

int main(int argc, char **argv) {
    CLI::App app("Loads a curve file and prints its number of control points, its degree and "
                 "its length from u = 0 to 1, measured by adaptive Simpson quadrature of |C'(u)| "
                 "with tolerance 1e-9 and recursion depth 30, in the length unit of the file.",
                 "curve_info");
    std::string path = "./../curve.nurbs";
    app.add_option("CURVE", path, "curve file")->capture_default_str();
    tool_app_setup(app, "A curve whose length is not finite is refused.");
    if (const int status = parse_tool_args(app, argc, argv); status >= 0) return status;
    return run_tool("curve_info", [&] {
        nurbs_curve curve;
        load_curve_checked(path, &curve);
        const double len = adaptiveSimpsons(nurbs_arc_len, &curve, 0.0, 1.0, 1e-9, 30);
        if (!std::isfinite(len))
            throw curve_error(path + ": the curve's length is not finite (its arithmetic "
                                     "overflows)");
        std::printf("control points: %u\ndegree: %u\nlength: %.9f\n", curve.ncp, curve.deg, len);
        return EXIT_DONE;
    });
}
