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
#include "core/nurbs.hpp"

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

// The same, batched: the point and first derivative of four parameters per call, per parameter.
void BM_eval_point_and_first_batch4(benchmark::State &state) {
    nurbs_curve &c = curve_of(state);
    const std::vector<double> u = random_parameters(4096);
    std::size_t i = 0;
    cart_point P[4], d[4];
    for (auto _ : state) {
        nurbs_interp::nurbs_eval_batch(&c, &u[i & 4095], 4, P, d);
        i += 4;
        benchmark::DoNotOptimize(d);
    }
    state.SetItemsProcessed(4 * state.iterations());
}
BENCHMARK(BM_eval_point_and_first_batch4)->ArgName("curve")->Arg(0)->Arg(1)->Arg(2);

// The quadrature of arc length two ways, in one program so that their ratio comes from one run:
// "scalar", the recursion with nurbs_arc_len called point by point (simpson_integrate), and
// "batched", adaptiveSimpsons itself (level by level, several points per kernel call). Both
// give the same value to the bit. Arguments: curve (0 bundled, 1 uniform 1000-point rosette,
// 2 non-uniform), way (0 scalar, 1 batched).
double quadrature(nurbs_curve &c, bool batched, double a, double b) {
    if (batched) return adaptiveSimpsons(nurbs_arc_len, &c, a, b, 1e-12, 30);
    auto speed = [&c](double x) { return nurbs_arc_len(x, &c); };
    return simpson_integrate(speed, a, b, 1e-12, 30);
}

// Integrand calls of the quadrature over [a, b], counted outside any timed loop.
double calls_of(nurbs_curve &c, double a, double b) {
    unsigned long calls = 0;
    auto count = [&](double x) {
        ++calls;
        return nurbs_arc_len(x, &c);
    };
    simpson_integrate(count, a, b, 1e-12, 30);
    return double(calls);
}

// One servo step of the driver: the length of an interval covering about 0.05 length units
// (250 mm/s for 0.25 ms), epsilon 1e-12, depth 30, at random places along the curve.
void BM_quadrature_servo_step(benchmark::State &state) {
    nurbs_curve &c = curve_of(state);
    const bool batched = state.range(1) != 0;
    const double du = 0.05 / adaptiveSimpsons(nurbs_arc_len, &c, 0.0, 1.0, 1e-9, 30);
    const std::vector<double> u = random_parameters(4096);
    std::size_t i = 0;
    for (auto _ : state) {
        const double a = u[i++ & 4095] * (1 - du);
        benchmark::DoNotOptimize(quadrature(c, batched, a, a + du));
    }
    double calls = 0;
    for (std::size_t k = 0; k < 4096; ++k)
        calls += calls_of(c, u[k] * (1 - du), u[k] * (1 - du) + du);
    state.counters["calls_per_step"] = calls / 4096;
    state.counters["ns_per_call"] =
        benchmark::Counter(double(state.iterations()) * calls / 4096,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_quadrature_servo_step)
    ->ArgNames({"curve", "batched"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}});

// The whole curve, u from 0 to 1 (the driver's untimed total length).
void BM_quadrature_whole_curve(benchmark::State &state) {
    nurbs_curve &c = curve_of(state);
    const bool batched = state.range(1) != 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(quadrature(c, batched, 0.0, 1.0));
    const double calls = calls_of(c, 0.0, 1.0);
    state.counters["calls"] = calls;
    state.counters["ns_per_call"] =
        benchmark::Counter(double(state.iterations()) * calls,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_quadrature_whole_curve)
    ->ArgNames({"curve", "batched"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
