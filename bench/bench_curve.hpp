// The curves the micro-benchmarks run on: the bundled benchmark curve (2000 control points,
// uniform knots), and a smooth 1000-point rational cubic (a seven-lobed rosette about 600 mm
// across, weights in [0.7, 1.3]) with clamped uniform knots or with a non-uniform knot vector
// of its own (span lengths varying 1:8, every 50th interior knot doubled), built in memory.
#pragma once

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "core/curve_def.hpp"
#include "core/nurbs.hpp"

enum class bench_curve_kind { bundled, rosette_uniform, rosette_nonuniform };

// Returns the rosette, with knots of its own when `nonuniform`.
inline nurbs_interp::curve_def rosette(bool nonuniform) {
    const int n = 1000, p = 3;
    nurbs_interp::curve_def c;
    c.deg = p;
    if (nonuniform) {
        c.knots.assign(n + p + 1, 0.0);
        double s = 0;
        for (int i = p + 1; i < n; ++i) {
            // Doubled knots repeat the one before; elsewhere spans of 1 .. 8 units.
            if ((i - p) % 50 != 0) s += 1 + 7 * (0.5 + 0.5 * std::sin(0.37 * i));
            c.knots[i] = s;
        }
        s += 1;
        for (int i = n; i < n + p + 1; ++i)
            c.knots[i] = s;
    }
    for (int i = 0; i < n; ++i) {
        const double t = 2 * M_PI * i / (n - 1), r = 300 + 80 * std::sin(7 * t);
        c.points.push_back({r * std::cos(t), r * std::sin(t), 0, 1 + 0.3 * std::sin(3 * t)});
    }
    return c;
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
    if (!path.empty() && std::filesystem::exists(path))
        nurbs_curve_alloc_file(path.c_str(), &curves[i]);
    else
        nurbs_interp::nurbs_curve_alloc_def(rosette(kind == bench_curve_kind::rosette_nonuniform),
                                            &curves[i]);
    loaded[i] = true;
    return curves[i];
}
