// Benchmarks of the time-optimal planner (plan_optimal, what make_profile spends planning and
// checking): the bundled curve on the router at its 1 ms period and at 0.25 ms (targets: 2 s
// and 8 s), the butterfly of the literature (V 250, A 2000, J 20000 per axis, 1 ms), and a
// circle of radius 50 at hostile limits (axis acceleration 10 mm/s^2, jerk 1000 mm/s^3: 16 s of
// motion, 64 000 samples at 0.25 ms; the shares planner took 108 s there and now refuses it by
// its estimate). Each iteration plans and checks once; the arc table is built beforehand.
#include <benchmark/benchmark.h>

#include "bench_curve.hpp"
#include "io/curve_load.hpp"
#include "plan/joints.hpp"
#include "plan/optimal_plan.hpp"
#include "shapes/reference_curves.hpp"

using namespace nurbs_interp;

namespace {

// A curve with its arc table, built once.
struct planned_curve {
    nurbs_curve curve;
    arc_table arc;
};

planned_curve &curve_of(int which) {
    static planned_curve c[3];
    static bool loaded[3] = {};
    if (!loaded[which]) {
        if (which == 0)
            c[0].curve = std::move(bench_curve(bench_curve_kind::bundled));
        else if (which == 1)
            load_curve_checked(NURBS_BUNDLED_DATA "/curves/butterfly.nurbs", &c[1].curve);
        else
            nurbs_curve_alloc_def(circle9(50), &c[2].curve);
        arc_table_build(&c[which].curve, &c[which].arc);
        loaded[which] = true;
    }
    return c[which];
}

// Plans the whole curve and checks every sample, as make_profile does.
void plan_and_check(benchmark::State &state, int which, const feed_bounds &b) {
    planned_curve &c = curve_of(which);
    const double target = arc_table_length(c.arc) - 0.5;
    std::size_t samples = 0;
    for (auto _ : state) {
        const feed_profile p = plan_optimal(c.arc, b, curve_corners(&c.curve), target);
        benchmark::DoNotOptimize(check_profile_bounds(p, c.arc, b).ratio);
        samples = p.v.size();
    }
    state.counters["samples"] = double(samples);
}

feed_bounds router(double period) {
    feed_bounds b;
    b.machine = {{250, 250, 100}, {1500, 1500, 800}, {30000, 30000, 20000}, period};
    return b;
}

void BM_plan_bundled_router(benchmark::State &state) {
    plan_and_check(state, 0, router(state.range(0) == 0 ? 0.001 : 0.00025));
}
BENCHMARK(BM_plan_bundled_router)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_plan_butterfly(benchmark::State &state) {
    feed_bounds b;
    b.machine = {{250, 250, 250}, {2000, 2000, 2000}, {20000, 20000, 20000}, 0.001};
    plan_and_check(state, 1, b);
}
BENCHMARK(BM_plan_butterfly)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_plan_slow_circle(benchmark::State &state) {
    feed_bounds b;
    b.machine = {{250, 250, 250}, {10, 10, 10}, {1000, 1000, 1000}, 0.00025};
    plan_and_check(state, 2, b);
}
BENCHMARK(BM_plan_slow_circle)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
