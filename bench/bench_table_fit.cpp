// Benchmarks of the accurate arc length and the feedrate correction table fit: the time fcp_fit
// and interp_compare spend before the first step. Argument "curve":
//   0 the nine-point circle, 1 a smooth random 40-point cubic with non-uniform knots, 2 the
//   bundled benchmark curve (2000 points), 3 a single span of degree 25, 4 the rounded
//   rectangle, 5 the ellipse in four arcs turned 30 degrees on non-uniform knots, 6 the jagged
//   random 3D quartic with weights 0.4 to 4.3, 7 the tight bend (radius 0.07 mm), 8 the spiral
//   pocket (300 points), 9 and 10 five points with a double knot at 1e-12 and at 1e-15.
// BM_fcp_fit: 400 pieces (fcp_fit's default); BM_fcp_fit_tolerance: the fewest pieces for
// E <= 1e-10 mm (interp_compare's in-process fit), measured at 16 samples a piece; both for
// steps of up to 250 mm/s * T.
// Bounds: a fit of a curve of at most 100 control points within 1 s whatever its weights and
// knots (curves 0, 1, 4 to 7, 9, 10), of the spiral and of degree 25 within 5 s; the tiny
// curves took 28-60 s at 401 breakpoints (fcp_fit) and 43 s (in process, 1e-15) before the fit
// was reworked.
#include <benchmark/benchmark.h>

#include "bench_curve.hpp"
#include "core/curve_def.hpp"
#include "plan/arc_length.hpp"
#include "plan/table_fit.hpp"
#include "shapes/reference_curves.hpp"

using namespace nurbs_interp;

namespace {

constexpr int CURVES = 11;

// Returns five points with a double knot at `knot` (degree 2).
curve_def tiny(double knot) {
    curve_def d;
    d.deg = 2;
    d.points = {{0, 0, 0, 1}, {10, 0, 0, 1}, {20, 5, 0, 1}, {30, 0, 0, 1}, {40, 10, 0, 1}};
    d.knots = {0, 0, 0, knot, knot, 1, 1, 1};
    return d;
}

// Returns the definition of a benchmark's argument (not the bundled curve).
curve_def fit_def(int which) {
    switch (which) {
    case 0:
        return circle9(50);
    case 1:
        return random_cubic(40, 2);
    case 3:
        return degree25();
    case 4:
        return rounded_rectangle(100, 60, 10);
    case 5:
        return ellipse_turned(60, 30, M_PI / 6);
    case 6:
        return random_quartic_3d(25, 19, 0.4, 4.3);
    case 7:
        return tight_bend(BEND_HALF_GAP);
    case 8:
        return spiral_pocket(300, 2, 2, 12);
    case 9:
        return tiny(1e-12);
    default:
        return tiny(1e-15);
    }
}

// Returns the loaded curve of a benchmark's argument (loaded on first use).
nurbs_curve &fit_curve(int which) {
    static nurbs_curve curves[CURVES];
    static bool loaded[CURVES] = {};
    if (loaded[which]) return curves[which];
    if (which == 2)
        curves[2] = std::move(bench_curve(bench_curve_kind::bundled));
    else
        nurbs_curve_alloc_def(fit_def(which), &curves[which]);
    loaded[which] = true;
    return curves[which];
}

void BM_arc_table_build(benchmark::State &state) {
    nurbs_curve &c = fit_curve(int(state.range(0)));
    for (auto _ : state) {
        arc_table tab;
        arc_table_build(&c, &tab);
        benchmark::DoNotOptimize(tab.s_knot.back());
    }
}
BENCHMARK(BM_arc_table_build)->ArgName("curve")->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

void BM_fcp_fit(benchmark::State &state) {
    nurbs_curve &c = fit_curve(int(state.range(0)));
    arc_table tab;
    arc_table_build(&c, &tab);
    for (auto _ : state) {
        const fcp_table t = fcp_fit(tab, arc_table_length(tab), 401, 250 * SERVO_PERIOD);
        benchmark::DoNotOptimize(t.tht.back()[0]);
    }
}
BENCHMARK(BM_fcp_fit)
    ->ArgName("curve")
    ->DenseRange(0, CURVES - 1)
    ->Unit(benchmark::kMillisecond);

void BM_fcp_fit_tolerance(benchmark::State &state) {
    nurbs_curve &c = fit_curve(int(state.range(0)));
    arc_table tab;
    arc_table_build(&c, &tab);
    for (auto _ : state) {
        try {
            const fcp_fit_result r = fcp_fit_tolerance(tab, arc_table_length(tab), 1e-10,
                                                       250 * SERVO_PERIOD, 10000, 16);
            state.counters["pieces"] = double(r.table.tht.size());
        } catch (const fit_error &) {
            state.counters["pieces"] = 0; // the curve allows no such table
        }
    }
}
BENCHMARK(BM_fcp_fit_tolerance)
    ->ArgName("curve")
    ->DenseRange(0, CURVES - 1)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
