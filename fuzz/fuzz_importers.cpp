// libFuzzer harness: the G-code NURBS reader and the DXF SPLINE reader on the same bytes. A
// curve either reader accepts must be one the curve writer and loader take.
#include <cstdint>
#include <cstdio>
#include <string>

#include "io/curve_file.hpp"
#include "io/dxf_spline.hpp"
#include "io/gcode_nurbs.hpp"
#include "io/import_error.hpp"

using namespace nurbs_interp;

namespace {

void check(const curve_def &c) {
    std::size_t at = 0;
    if (!curve_def_problem(c, &at).empty()) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    try {
        for (const gcode_curve &g : read_gcode_nurbs_text(text, "fuzz.ngc"))
            check(g.curve);
    } catch (const import_error &) {
    }
    try {
        for (const dxf_curve &d : read_dxf_splines_text(text, "fuzz.dxf"))
            check(d.curve);
    } catch (const import_error &) {
    }
    return 0;
}
