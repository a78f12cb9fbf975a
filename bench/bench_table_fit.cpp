// Benchmarks of the accurate arc length and the feedrate correction table fit: the time fcp_fit
// and interp_compare spend before the first step. Argument "curve": 0 the nine-point circle,
// 1 a smooth random 40-point cubic with non-uniform knots, 2 the bundled benchmark curve (2000
// points), 3 a single span of degree 25. A fit is 400 pieces for steps of up to 250 mm/s * T.
#include <benchmark/benchmark.h>

#include "bench_curve.hpp"
#include "core/curve_def.hpp"
#include "plan/arc_length.hpp"
#include "plan/table_fit.hpp"
#include "shapes/reference_curves.hpp"

using namespace nurbs_interp;

namespace {

// Returns the loaded curve of a benchmark's argument (loaded on first use).
nurbs_curve &fit_curve(int which) {
    static nurbs_curve curves[4];
    static bool loaded[4] = {};
    if (loaded[which]) return curves[which];
    if (which == 2) {
        curves[2] = std::move(bench_curve(bench_curve_kind::bundled));
    } else {
        const curve_def d = which == 0   ? circle9(50)
                            : which == 1 ? random_cubic(40, 2)
                                         : degree25();
        nurbs_curve_alloc_def(d, &curves[which]);
    }
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
BENCHMARK(BM_fcp_fit)->ArgName("curve")->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
