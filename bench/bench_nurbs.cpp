// Micro-benchmarks of the curve model: evaluation and arc-length quadrature on a degree-3
// rational curve with 1000 control points (the bundled benchmark curve when present).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "nurbs.hpp"

namespace {

// Returns the bundled curve if it is there, else a smooth rational cubic written to a
// temporary file: a 1000-point rosette about 60 mm across with weights in [0.7, 1.3].
nurbs_curve &bench_curve()
{
    static nurbs_curve curve;
    static bool loaded = false;
    if (loaded)
        return curve;
    std::string path = "data/S1200X30quorbel.nurbs";
    if (!std::filesystem::exists(path)) {
        path = (std::filesystem::temp_directory_path() / "bench_nurbs_curve.nurbs").string();
        std::FILE *f = std::fopen(path.c_str(), "w");
        const int n = 1000;
        std::fprintf(f, "N%d\tL3\tD2\n", n);
        for (int i = 0; i < n; ++i) {
            const double t = 2 * M_PI * i / (n - 1);
            const double r = 30 + 8 * std::sin(7 * t);
            std::fprintf(f, "X%.17g\tY%.17g\tP%.17g\n", r * std::cos(t), r * std::sin(t),
                         1 + 0.3 * std::sin(3 * t));
        }
        std::fclose(f);
    }
    nurbs_curve_alloc_file(path.c_str(), &curve);
    loaded = true;
    return curve;
}

std::vector<double> random_parameters(std::size_t n)
{
    std::mt19937_64 gen(12345);
    std::uniform_real_distribution<double> dist(0.0, 1.0);
    std::vector<double> u(n);
    for (double &x : u)
        x = dist(gen);
    return u;
}

void BM_eval_point_and_first(benchmark::State &state)
{
    nurbs_curve &c = bench_curve();
    const std::vector<double> u = random_parameters(4096);
    std::size_t i = 0;
    cart_point P, d;
    for (auto _ : state) {
        nurbs_deBoor_eval(u[i++ & 4095], -1, &c, &P, &d, nullptr, nullptr);
        benchmark::DoNotOptimize(d);
    }
}
BENCHMARK(BM_eval_point_and_first);

void BM_eval_all_four(benchmark::State &state)
{
    nurbs_curve &c = bench_curve();
    const std::vector<double> u = random_parameters(4096);
    std::size_t i = 0;
    cart_point P, d, dd, ddd;
    for (auto _ : state) {
        nurbs_deBoor_eval(u[i++ & 4095], -1, &c, &P, &d, &dd, &ddd);
        benchmark::DoNotOptimize(ddd);
    }
}
BENCHMARK(BM_eval_all_four);

// One servo step of the driver: the length of an interval covering about 0.05 length units,
// epsilon 1e-12, depth 30, at random places along the curve.
void BM_simpson_servo_step(benchmark::State &state)
{
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
void BM_simpson_total_length(benchmark::State &state)
{
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
