#include "curve_report.hpp"

#include <cstdio>

namespace nurbs_interp {

void report_load_error(const nurbs_file_error &error) {
    if (error.kind == nurbs_file_error::open_failed) {
        std::printf("%s", error.what());
        std::fflush(stdout);
    } else {
        std::fprintf(stderr, "%s\n", error.what());
    }
}

bool load_curve_or_report(const char *path, nurbs_curve *curve) {
    try {
        nurbs_curve_alloc_file(path, curve);
    } catch (const nurbs_file_error &e) {
        report_load_error(e);
        return false;
    }
    return true;
}

} // namespace nurbs_interp
