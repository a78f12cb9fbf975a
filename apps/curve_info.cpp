// curve_info: loads a curve file and prints its control-point count, degree and length.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "curve_report.hpp"
#include "nurbs.hpp"

using namespace nurbs_interp;

namespace {

void usage(std::FILE *out) {
    std::fprintf(out,
                 "usage: curve_info [--help] [CURVE.nurbs]\n"
                 "Loads a curve file (default ./../curve.nurbs) and prints its number of control\n"
                 "points, its degree and its length from u = 0 to 1, measured by adaptive Simpson\n"
                 "quadrature of |C'(u)| with tolerance 1e-9 and recursion depth 30, in the\n"
                 "length unit of the file.\n");
}

} // namespace

int main(int argc, char **argv) {
    if (argc > 2 ||
        (argc == 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")))) {
        usage(argc > 2 ? stderr : stdout);
        return argc > 2 ? 2 : 0;
    }
    nurbs_curve curve;
    if (!load_curve_or_report(argc == 2 ? argv[1] : nullptr, &curve)) return -1;
    const double len = adaptiveSimpsons(nurbs_arc_len, &curve, 0.0, 1.0, 1e-9, 30);
    std::printf("control points: %u\ndegree: %u\nlength: %.9f\n", curve.ncp, curve.deg, len);
    nurbs_curve_free(&curve);
    return 0;
}
