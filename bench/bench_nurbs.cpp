// Micro-benchmarks of the curve model: evaluation and arc-length quadrature on degree-3
// rational curves (see bench_curve.hpp). Argument "curve": 0 the bundled benchmark curve (2000
// control points), 1 a 1000-point rosette with uniform knots, 2 the same with non-uniform
// knots (where the span search's uniform guess misses and it bisects).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench_curve.hpp"
#include "nurbs.hpp"

using namespace nurbs_interp;

namespace {

std::vector<double> random_parameters(std::size_t n) {
    std::mt19937_64 gen(12345);
    std::uniform_real_distribution<double> dist(0.0, 1.0);
    std::vector<double> u(n);
    for (double &x : u)
        x = dist(gen);
    return u;
}

// The curve of a benchmark's argument: 0 bundled, 1 uniform rosette, 2 non-uniform rosette.
nurbs_curve &curve_of(const benchmark::State &state) {
    return bench_curve(static_cast<bench_curve_kind>(state.range(0)));
}

void BM_eval_point_and_first(benchmark::State &state) {
    nurbs_curve &c = curve_of(state);
    const std::vector<double> u = random_parameters(4096);
    std::size_t i = 0;
    cart_point P, d;
    for (auto _ : state) {
        nurbs_deBoor_eval(u[i++ & 4095], -1, &c, &P, &d, nullptr, nullptr);
        benchmark::DoNotOptimize(d);
    }
}
BENCHMARK(BM_eval_point_and_first)->ArgName("curve")->Arg(0)->Arg(1)->Arg(2);

void BM_eval_all_four(benchmark::State &state) {
    nurbs_curve &c = curve_of(state);
    const std::vector<double> u = random_parameters(4096);
    std::size_t i = 0;
    cart_point P, d, dd, ddd;
    for (auto _ : state) {
        nurbs_deBoor_eval(u[i++ & 4095], -1, &c, &P, &d, &dd, &ddd);
        benchmark::DoNotOptimize(ddd);
    }
}
BENCHMARK(BM_eval_all_four)->ArgName("curve")->Arg(0)->Arg(1)->Arg(2);

// One servo step of the driver: the length of an interval covering about 0.05 length units,
// epsilon 1e-12, depth 30, at random places along the curve.
void BM_simpson_servo_step(benchmark::State &state) {
    nurbs_curve &c = bench_curve();
    const double total = adaptiveSimpsons(nurbs_arc_len, &c, 0.0, 1.0, 1e-9, 30);
    const double du = 0.05 / total; // the mean parameter step for 0.05 length units
    const std::vector<double> u = random_parameters(4096);
    std::size_t i = 0;
    unsigned long calls = 0, steps = 0;
    for (auto _ : state) {
        const double a = u[i++ & 4095] * (1 - du);
        benchmark::DoNotOptimize(adaptiveSimpsons(nurbs_arc_len, &c, a, a + du, 1e-12, 30));
    }
    // Integrand calls per step, counted outside the timed loop over the same intervals.
    for (std::size_t k = 0; k < 4096; ++k, ++steps) {
        const double a = u[k] * (1 - du);
        auto count = [&](double x) {
            ++calls;
            return nurbs_arc_len(x, &c);
        };
        simpson_integrate(count, a, a + du, 1e-12, 30);
    }
    state.counters["calls_per_step"] = double(calls) / double(steps);
}
BENCHMARK(BM_simpson_servo_step);

// The driver's untimed total-length measurement: [0, 1] at epsilon 1e-12, depth 30.
void BM_simpson_total_length(benchmark::State &state) {
    nurbs_curve &c = bench_curve();
    unsigned long calls = 0;
    auto count = [&](double x) {
        ++calls;
        return nurbs_arc_len(x, &c);
    };
    for (auto _ : state)
        benchmark::DoNotOptimize(simpson_integrate(count, 0.0, 1.0, 1e-12, 30));
    state.counters["calls"] = double(calls) / double(state.iterations());
}
BENCHMARK(BM_simpson_total_length)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
