#include "curve_load.hpp"

#include <cmath>   // isfinite
#include <cstdio>  // printf for the driver's fixed line
#include <cstring> // strerror
#include <filesystem>

#include "progress.hpp"

namespace nurbs_interp {

namespace {

bool finite_point(const nurbs_ctrl_pt &p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z) && std::isfinite(p.w);
}

// Throws when a point of `pts` is not finite, naming the array and the point.
void check_polygon(const std::vector<nurbs_ctrl_pt> &pts, const std::string &path,
                   const char *what) {
    for (std::size_t i = 0; i < pts.size(); ++i)
        if (!finite_point(pts[i]))
            throw curve_error(path + ": " + what + " " + std::to_string(i + 1) +
                              " is not finite: the coordinates and weights overflow the "
                              "arithmetic (keep |x*w| and the differences of neighbouring "
                              "points below about 1e300)");
}

} // namespace

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

void load_curve_checked(const std::string &path, nurbs_curve *curve) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw curve_error(path + ": is a directory, not a curve file");
    try {
        nurbs_curve_alloc_file(path.c_str(), curve);
    } catch (const nurbs_file_error &e) {
        if (e.kind == nurbs_file_error::open_failed)
            throw curve_error(path + ": cannot open the curve file (" +
                              std::strerror(e.open_errno) + ")");
        throw curve_error(e.what());
    }
    check_polygon(curve->control_points, path, "homogeneous control point");
    check_polygon(curve->control_points_1d, path, "first-derivative polygon point");
    check_polygon(curve->control_points_2d, path, "second-derivative polygon point");
    if (curve->deg >= 3)
        check_polygon(curve->control_points_3d, path, "third-derivative polygon point");
}

double curve_length_checked(nurbs_curve *curve, const std::string &path,
                            const std::string &progress_label) {
    const double len = measure_length_with_progress(curve, progress_label);
    if (!std::isfinite(len))
        throw curve_error(path + ": the curve's length is not finite (its arithmetic overflows)");
    if (!(len > 0))
        throw curve_error(path + ": the curve has zero length (all its points coincide)");
    return len;
}

} // namespace nurbs_interp
