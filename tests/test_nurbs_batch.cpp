// The batched evaluator and the breadth-first quadrature: bit for bit what the scalar evaluator
// and the recursion give, on both kernels (the baseline one, and AVX2 where the CPU has it).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "test_util.hpp"

using namespace nurbs_interp;
using namespace test_util;

namespace {

bool same(const cart_point &a, const cart_point &b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool same(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Curves of several degrees, with uniform and with explicit non-uniform knots.
struct batch_curves : ::testing::TestWithParam<batch_isa> {
    std::vector<std::unique_ptr<nurbs_curve>> curves;
    void SetUp() override {
        if (!set_batch_kernel(GetParam())) GTEST_SKIP() << "this CPU has no AVX2";
        std::mt19937_64 gen(11);
        std::uniform_real_distribution<double> xy(-50, 50), w(0.5, 2);
        auto points = [&](unsigned n) {
            std::vector<nurbs_ctrl_pt> p;
            for (unsigned i = 0; i < n; ++i)
                p.push_back({xy(gen), xy(gen), xy(gen), w(gen)});
            return p;
        };
        for (unsigned deg : {2u, 3u, 5u, 9u}) {
            auto c = std::make_unique<nurbs_curve>();
            load_curve(points(deg + 12), deg, c.get(), 3);
            curves.push_back(std::move(c));
        }
        // A cubic with repeated interior knots (a corner and a doubled knot).
        auto c = std::make_unique<nurbs_curve>();
        nurbs_curve_alloc_def({3, 3, points(10), {0, 0, 0, 0, 0.5, 2, 2, 2, 3, 3, 7, 7, 7, 7}},
                              c.get());
        curves.push_back(std::move(c));
    }
    void TearDown() override { set_batch_kernel(batch_isa::automatic); }
};

TEST_P(batch_curves, EvaluatorGivesTheScalarBits) {
    std::mt19937_64 gen(5);
    std::uniform_real_distribution<double> unit(0, 1);
    for (auto &c : curves) {
        std::vector<double> u = {
            0.0, -0.0, 1.0, 1.5, -0.25, NAN, INFINITY, -INFINITY, std::nextafter(1.0, 0.0)};
        for (double k : c->knots) // every knot, and just below it
            u.insert(u.end(), {k, std::nextafter(k, -1.0)});
        for (int i = 0; i < 3000; ++i)
            u.push_back(unit(gen));
        std::vector<cart_point> P(u.size()), D(u.size());
        std::vector<double> speed(u.size());
        nurbs_eval_batch(c.get(), u.data(), u.size(), P.data(), D.data());
        nurbs_arc_len_batch(c.get(), u.data(), u.size(), speed.data());
        for (std::size_t i = 0; i < u.size(); ++i) {
            cart_point p, d;
            nurbs_deBoor_eval(u[i], -1, c.get(), &p, &d, nullptr, nullptr);
            ASSERT_TRUE(same(p, P[i]) && same(d, D[i])) << "deg " << c->deg << " u " << u[i];
            ASSERT_TRUE(same(speed[i], nurbs_arc_len(u[i], c.get()))) << u[i];
        }
    }
}

TEST_P(batch_curves, QuadratureGivesTheRecursionsBits) {
    std::mt19937_64 gen(9);
    std::uniform_real_distribution<double> unit(0, 1);
    for (auto &c : curves) {
        auto recursion = [&](double a, double b, double eps, int depth) {
            auto speed = [&](double x) { return nurbs_arc_len(x, c.get()); };
            return simpson_integrate(speed, a, b, eps, depth);
        };
        struct interval {
            double a, b, eps;
            int depth;
        };
        std::vector<interval> cases = {
            {0, 1, 1e-12, 30},     {0, 1, 1e-6, 5},       {0.3, 0.3, 1e-9, 30},
            {0.7, 0.2, 1e-10, 20}, {0.9, 1.6, 1e-12, 30}, {-0.5, 0.5, 1e-9, 12},
            {0.2, NAN, 1e-12, 30}, {0.1, 0.6, -1, 8},     {0.1, 0.6, 1e-12, -3}};
        for (int i = 0; i < 400; ++i) {
            const double a = unit(gen);
            cases.push_back({a, a + (i % 2 ? 1e-4 : 0.3) * unit(gen),
                             std::pow(10.0, -3 - 10 * unit(gen)), int(40 * unit(gen)) - 2});
        }
        for (const interval &iv : cases) {
            const double batched =
                adaptiveSimpsons(nurbs_arc_len, c.get(), iv.a, iv.b, iv.eps, iv.depth);
            const double scalar = recursion(iv.a, iv.b, iv.eps, iv.depth);
            ASSERT_TRUE(same(batched, scalar) || (std::isnan(batched) && std::isnan(scalar)))
                << "deg " << c->deg << " [" << iv.a << ", " << iv.b << "] " << iv.eps << " "
                << iv.depth << ": " << batched << " vs " << scalar;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, batch_curves,
                         ::testing::Values(batch_isa::baseline, batch_isa::avx2),
                         [](const auto &info) {
                             return info.param == batch_isa::baseline ? "Baseline" : "Avx2";
                         });

TEST(BatchedQuadrature, ACallersIntegrandKeepsTheRecursionsCallOrder) {
    std::vector<double> calls;
    struct ctx_t {
        std::vector<double> *calls;
    } ctx{&calls};
    auto f = [](double u, void *data) {
        static_cast<ctx_t *>(data)->calls->push_back(u);
        return u > 0.7 ? NAN : 1 + u * u;
    };
    const double v = adaptiveSimpsons(f, &ctx, 0.0, 1.0, 1e-9, 6);
    EXPECT_TRUE(std::isnan(v));
    ASSERT_GE(calls.size(), 5u);
    EXPECT_EQ(calls[0], 0.0); // a, b, the midpoint, then depth first
    EXPECT_EQ(calls[1], 1.0);
    EXPECT_EQ(calls[2], 0.5);
    EXPECT_EQ(calls[3], 0.25);
}

} // namespace
