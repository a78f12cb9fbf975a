// The curve the micro-benchmarks run on: the bundled benchmark curve when it is there, else a
// smooth 1000-point rational cubic (a seven-lobed rosette about 600 mm across, weights in
// [0.7, 1.3]) written to a temporary file.
#pragma once

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "nurbs.hpp"

// Returns the loaded benchmark curve (loaded on the first call).
inline nurbs_curve &bench_curve() {
    static nurbs_curve curve;
    static bool loaded = false;
    if (loaded) return curve;
    const auto source = std::filesystem::path(__FILE__).parent_path().parent_path();
    std::string path = (source / "data" / "S1200X30quorbel.nurbs").string();
    if (!std::filesystem::exists(path)) path = "data/S1200X30quorbel.nurbs";
    if (!std::filesystem::exists(path)) {
        path = (std::filesystem::temp_directory_path() / "bench_curve.nurbs").string();
        std::FILE *f = std::fopen(path.c_str(), "w");
        const int n = 1000;
        std::fprintf(f, "N%d\tL3\tD2\n", n);
        for (int i = 0; i < n; ++i) {
            const double t = 2 * M_PI * i / (n - 1), r = 300 + 80 * std::sin(7 * t);
            std::fprintf(f, "X%.17g\tY%.17g\tP%.17g\n", r * std::cos(t), r * std::sin(t),
                         1 + 0.3 * std::sin(3 * t));
        }
        std::fclose(f);
    }
    nurbs_curve_alloc_file(path.c_str(), &curve);
    loaded = true;
    return curve;
}
