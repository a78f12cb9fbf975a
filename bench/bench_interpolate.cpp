// Micro-benchmarks of the interpolators and the axis kinematics: one servo step each at a feed
// of 250 mm/s and T = 0.25 ms, walking along a degree-3 rational curve: the bundled benchmark
// curve when present, else a generated one with 1000 control points. Each step includes the
// curve evaluations its interpolator needs at the current parameter.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_curve.hpp"
#include "core/interpolate.hpp"

using namespace nurbs_interp;

namespace {

constexpr double T = 0.00025, FEED = 250, ACC = 0, JERK = 0;
constexpr double U_START = 0.001, U_WRAP = 0.999; // walk [U_START, U_WRAP), then start again

// Runs `step(u)` once per iteration, feeding each result back as the next start parameter.
template <class Step> void walk(benchmark::State &state, Step step) {
    double u = U_START;
    for (auto _ : state) {
        u = step(u);
        benchmark::DoNotOptimize(u);
        if (!(u < U_WRAP)) u = U_START;
    }
}

void BM_get_u_FCP(benchmark::State &state) {
    // The table needs no curve; the travelled length walks the benchmark curve's length,
    // which is the table's domain.
    const double length = adaptiveSimpsons(nurbs_arc_len, &bench_curve(), 0, 1, 1e-9, 20);
    double s = 0;
    for (auto _ : state) {
        double u = get_u_FCP(s, FEED, T);
        benchmark::DoNotOptimize(u);
        s += FEED * T;
        if (s >= length - 1) s = 0;
    }
}

void BM_get_u_Taylor2(benchmark::State &state) {
    nurbs_curve *c = &bench_curve();
    cart_point P, d, dd;
    walk(state, [&](double u) {
        nurbs_deBoor_eval(u, -1, c, &P, &d, &dd, nullptr);
        return get_u_Taylor2(FEED, ACC, u, T, &d, &dd);
    });
}

void BM_get_u_Taylor3(benchmark::State &state) {
    nurbs_curve *c = &bench_curve();
    cart_point P, d, dd, ddd;
    walk(state, [&](double u) {
        nurbs_deBoor_eval(u, -1, c, &P, &d, &dd, &ddd);
        return get_u_Taylor3(FEED, ACC, JERK, u, T, &d, &dd, &ddd);
    });
}

void BM_get_u_Taylor2_ds(benchmark::State &state) {
    nurbs_curve *c = &bench_curve();
    cart_point P, d, dd;
    walk(state, [&](double u) {
        nurbs_deBoor_eval(u, -1, c, &P, &d, &dd, nullptr);
        return get_u_Taylor2_ds(FEED * T, u, T, &d, &dd);
    });
}

void BM_get_u_Taylor3_ds(benchmark::State &state) {
    nurbs_curve *c = &bench_curve();
    cart_point P, d, dd, ddd;
    walk(state, [&](double u) {
        nurbs_deBoor_eval(u, -1, c, &P, &d, &dd, &ddd);
        return get_u_Taylor3_ds(FEED * T, u, T, &d, &dd, &ddd);
    });
}

void BM_get_u_RK2(benchmark::State &state) {
    nurbs_curve *c = &bench_curve();
    cart_point P, d;
    walk(state, [&](double u) {
        nurbs_deBoor_eval(u, -1, c, &P, &d, nullptr, nullptr);
        return get_u_RK2(FEED, u, T, &P, &d, c);
    });
}

void BM_get_u_T3SIA(benchmark::State &state) {
    nurbs_curve *c = &bench_curve();
    walk(state, [&](double u) { return get_u_T3SIA(FEED, ACC, JERK, u, T, c); });
}

void BM_get_u_AdamsMoulton(benchmark::State &state) {
    // Past start-up (ct >= 2T); the history follows the walk.
    nurbs_curve *c = &bench_curve();
    reset_adams_moulton_history(U_START, U_START);
    walk(state, [&](double u) { return get_u_AdamsMoulton(u, FEED, T, 1.0, c); });
}

void BM_get_u_NewtonRaphson(benchmark::State &state) {
    nurbs_curve *c = &bench_curve();
    cart_point P, d, dd;
    walk(state, [&](double u) {
        nurbs_deBoor_eval(u, -1, c, &P, &d, &dd, nullptr);
        return get_u_NewtonRaphson(u, FEED, T, c, &P, &d, &dd);
    });
}

void BM_compute_axial_vaj(benchmark::State &state) {
    // The split alone, over derivatives evaluated beforehand at 1024 places.
    nurbs_curve *c = &bench_curve();
    std::vector<cart_point> d(1024), dd(1024), ddd(1024);
    for (int i = 0; i < 1024; ++i) {
        cart_point P;
        nurbs_deBoor_eval((i + 0.5) / 1024, -1, c, &P, &d[i], &dd[i], &ddd[i]);
    }
    cart_point v, a, j;
    unsigned i = 0;
    for (auto _ : state) {
        compute_axial_vaj(&v, &a, &j, &d[i & 1023], &dd[i & 1023], &ddd[i & 1023], FEED, 2500, 5e4);
        benchmark::DoNotOptimize(v);
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(j);
        ++i;
    }
}

void BM_compute_axial_vaj_with_eval(benchmark::State &state) {
    // The split with the evaluation of C', C'', C''' it needs, walking at the feed.
    nurbs_curve *c = &bench_curve();
    cart_point P, d, dd, ddd, v, a, j;
    double u = U_START;
    for (auto _ : state) {
        nurbs_deBoor_eval(u, -1, c, &P, &d, &dd, &ddd);
        compute_axial_vaj(&v, &a, &j, &d, &dd, &ddd, FEED, 2500, 5e4);
        benchmark::DoNotOptimize(v);
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(j);
        u += FEED * T / modulus(&d);
        if (!(u < U_WRAP)) u = U_START;
    }
}

} // namespace

BENCHMARK(BM_get_u_FCP);
BENCHMARK(BM_get_u_Taylor2);
BENCHMARK(BM_get_u_Taylor3);
BENCHMARK(BM_get_u_Taylor2_ds);
BENCHMARK(BM_get_u_Taylor3_ds);
BENCHMARK(BM_get_u_RK2);
BENCHMARK(BM_get_u_T3SIA);
BENCHMARK(BM_get_u_AdamsMoulton);
BENCHMARK(BM_get_u_NewtonRaphson);
BENCHMARK(BM_compute_axial_vaj);
BENCHMARK(BM_compute_axial_vaj_with_eval);

BENCHMARK_MAIN();
