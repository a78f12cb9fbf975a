// libFuzzer harness: the curve-file loader, then evaluation and arc length of whatever loads.
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "core/nurbs.hpp"

using namespace nurbs_interp;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) return 0; // fmemopen refuses an empty buffer; the empty file is a unit test
    std::FILE *f = fmemopen(const_cast<std::uint8_t *>(data), size, "r");
    if (!f) return 0;
    nurbs_curve curve;
    try {
        nurbs_curve_load_stream(f, "fuzz.nurbs", &curve);
    } catch (const nurbs_file_error &) {
        std::fclose(f);
        return 0;
    }
    std::fclose(f);
    // Anything the loader accepts must evaluate inside its arrays at every kind of parameter.
    cart_point P, d, dd, ddd;
    for (double u : {-1.0, -0.0, 0.0, 0.25, 0.5, 0.999999, 1.0, 2.0, double(NAN), double(INFINITY)})
        nurbs_deBoor_eval(u, -1, &curve, &P, &d, &dd, &ddd);
    adaptiveSimpsons(nurbs_arc_len, &curve, 0.0, 1.0, 1e-6, 6);
    return 0;
}
