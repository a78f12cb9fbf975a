// The curves the micro-benchmarks run on: the bundled benchmark curve (2000 control points,
// uniform knots), and a smooth 1000-point rational cubic (a seven-lobed rosette about 600 mm
// across, weights in [0.7, 1.3]) with clamped uniform knots or with a non-uniform knot vector
// of its own (span lengths varying 1:8, every 50th interior knot doubled), written to
// temporary files.
#pragma once

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/nurbs.hpp"

enum class bench_curve_kind { bundled, rosette_uniform, rosette_nonuniform };

// Writes the rosette to `path`, with explicit knots when `nonuniform`.
inline void write_rosette(const std::string &path, bool nonuniform) {
    const int n = 1000, p = 3;
    std::FILE *f = std::fopen(path.c_str(), "w");
    std::fprintf(f, "N%d\tL%d\tD2\n", n, p);
    if (nonuniform) {
        std::vector<double> k(n + p + 1, 0.0);
        double s = 0;
        for (int i = p + 1; i < n; ++i) {
            // Doubled knots repeat the one before; elsewhere spans of 1 .. 8 units.
            if ((i - p) % 50 != 0) s += 1 + 7 * (0.5 + 0.5 * std::sin(0.37 * i));
            k[i] = s;
        }
        s += 1;
        for (int i = n; i < n + p + 1; ++i)
            k[i] = s;
        for (double v : k)
            std::fprintf(f, "K%.17g\n", v);
    }
    for (int i = 0; i < n; ++i) {
        const double t = 2 * M_PI * i / (n - 1), r = 300 + 80 * std::sin(7 * t);
        std::fprintf(f, "X%.17g\tY%.17g\tP%.17g\n", r * std::cos(t), r * std::sin(t),
                     1 + 0.3 * std::sin(3 * t));
    }
    std::fclose(f);
}

// Returns the loaded curve of that kind (loaded on the first call). Without the bundled data
// file the bundled kind falls back to the uniform rosette.
inline nurbs_curve &bench_curve(bench_curve_kind kind = bench_curve_kind::bundled) {
    static nurbs_curve curves[3];
    static bool loaded[3] = {false, false, false};
    const int i = static_cast<int>(kind);
    if (loaded[i]) return curves[i];
    std::string path;
    if (kind == bench_curve_kind::bundled) {
        const auto source = std::filesystem::path(__FILE__).parent_path().parent_path();
        path = (source / "data" / "S1200X30quorbel.nurbs").string();
        if (!std::filesystem::exists(path)) path = "data/S1200X30quorbel.nurbs";
    }
    if (path.empty() || !std::filesystem::exists(path)) {
        const bool nonuniform = kind == bench_curve_kind::rosette_nonuniform;
        path = (std::filesystem::temp_directory_path() /
                (nonuniform ? "bench_rosette_nonuniform.nurbs" : "bench_rosette.nurbs"))
                   .string();
        write_rosette(path, nonuniform);
    }
    nurbs_curve_alloc_file(path.c_str(), &curves[i]);
    loaded[i] = true;
    return curves[i];
}
