// libFuzzer harness: the G-code NURBS reader and the DXF SPLINE reader on the same bytes. A
// curve either reader accepts must be one the curve writer and loader take, and its file must
// load to the record built in memory.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "io/curve_file.hpp"
#include "io/dxf_spline.hpp"
#include "io/gcode_nurbs.hpp"
#include "io/import_error.hpp"

using namespace nurbs_interp;

namespace {

template <class T> bool same_bits(const std::vector<T> &a, const std::vector<T> &b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

void check(const curve_def &c) {
    std::size_t at = 0;
    if (!curve_def_problem(c, &at).empty()) __builtin_trap();
    nurbs_curve memory, file;
    try {
        nurbs_curve_alloc_def(c, &memory);
    } catch (const curve_def_error &) {
        return; // knots that fall together on [0, 1]: the file is refused alike
    }
    std::string text = curve_file_text(c);
    std::FILE *f = fmemopen(text.data(), text.size(), "r");
    nurbs_curve_load_stream(f, "fuzz.nurbs", &file);
    std::fclose(f);
    if (!same_bits(memory.knots, file.knots) ||
        !same_bits(memory.control_points, file.control_points) ||
        !same_bits(memory.control_points_1d, file.control_points_1d))
        __builtin_trap();
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
