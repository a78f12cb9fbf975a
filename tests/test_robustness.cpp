// Every numeric entry point under hostile values: each call returns (every loop is bounded,
// every recursion budgeted), stays inside its arrays (the suite also runs under the
// sanitizers) and keeps its documented results: the clamp to exactly 1 and NaN propagation.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/interpolate.hpp"
#include "test_util.hpp"

using namespace nurbs_interp;

using namespace test_util;

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double Inf = std::numeric_limits<double>::infinity();
const double hostile_u[] = {-1.0, -0.0, 0.0, 0.5, 1.0, 1.5, NaN, Inf, -Inf, 1e308};
const double hostile_v[] = {0.0, -50.0, NaN, Inf, 1e6, 100.0};
const double hostile_T[] = {0.00025, 0.0, -0.00025};

// A smooth rational cubic, and two whose speed vanishes: a control point repeated three times
// (|C'| = 0 at one knot) and four times (a whole span standing still).
std::vector<nurbs_ctrl_pt> test_curve(int repeats) {
    std::vector<nurbs_ctrl_pt> pts;
    for (int i = 0; i < 12; ++i)
        pts.push_back(
            {10.0 * std::cos(0.5 * i), 8.0 * std::sin(0.7 * i), 0.0, 1.0 + 0.3 * std::sin(i)});
    for (int r = 1; r < repeats; ++r)
        pts.insert(pts.begin() + 6, pts[6]);
    return pts;
}

// True when an interpolator's result obeys the upper clamp: at most 1, or NaN.
bool clamped(double u) {
    return std::isnan(u) || u <= 1.0;
}

class HostileValues : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        load_curve(test_curve(GetParam()), 3, &curve);
        set_global_nurbs_curve(&curve);
    }
    nurbs_curve curve;
};

TEST_P(HostileValues, EvaluationAndQuadratureReturn) {
    for (double u : hostile_u) {
        cart_point P, d, dd, ddd;
        nurbs_deBoor_eval(u, -1, &curve, &P, &d, &dd, &ddd);
        EXPECT_EQ(std::isnan(P.x), std::isnan(u)) << u; // NaN in, NaN out; else a point
        EXPECT_EQ(std::isnan(nurbs_arc_len(u, &curve)), std::isnan(u));
        for (double b : {0.0, 0.25, 1.0, 2.0, NaN, Inf})
            for (double eps : {1e-12, 0.0, -1.0})
                adaptiveSimpsons(nurbs_arc_len, &curve, u, b, eps, eps > 0 ? 30 : 12);
        set_diff_arclength_target(u, 1.0);
        diff_arclength(0.7);
        set_diff_arclength_target(0.0, 0.0);
        EXPECT_EQ(diff_arclength(0.0), 0.0);
    }
}

TEST_P(HostileValues, InterpolatorsReturnAndClamp) {
    int calls = 0;
    for (double u : hostile_u) {
        cart_point P, d, dd, ddd;
        nurbs_deBoor_eval(u, -1, &curve, &P, &d, &dd, &ddd);
        for (double v : hostile_v)
            for (double T : hostile_T) {
                const double ds = v * T;
                const double a = 2000.0, j = -5e4;
                EXPECT_TRUE(clamped(get_u_Taylor2(v, a, u, T, &d, &dd)));
                EXPECT_TRUE(clamped(get_u_Taylor3(v, a, j, u, T, &d, &dd, &ddd)));
                const double t2 = get_u_Taylor2_ds(ds, u, T, &d, &dd);
                EXPECT_TRUE(clamped(t2));
                EXPECT_TRUE(clamped(get_u_Taylor3_ds(ds, u, T, &d, &dd, &ddd)));
                if (std::isnan(u)) {
                    EXPECT_TRUE(std::isnan(t2));
                }
                EXPECT_TRUE(clamped(get_u_RK2(v, u, T, &P, &d, &curve)));
                const double s = get_u_T3SIA(v, a, j, u, T, &curve);
                if (v != 0) {
                    EXPECT_TRUE(clamped(s)) << u << " " << v << " " << T;
                }
                EXPECT_LE(interp_last_iterations(), 100);
                for (double ct : {0.0, 1.0}) {
                    reset_adams_moulton_history(u, u);
                    EXPECT_TRUE(clamped(get_u_AdamsMoulton(u, v, T, ct, &curve)));
                }
                EXPECT_TRUE(clamped(get_u_NewtonRaphson(u, v, T, &curve, nullptr, &d, &dd)));
                EXPECT_LE(interp_last_iterations(), 100);
                get_u_FCP(u * 1000.0, v, T); // the table needs no curve; any s must end
                cart_point av, aa, aj;
                compute_axial_vaj(&av, &aa, &aj, &d, &dd, &ddd, v, a, j);
                ++calls;
            }
    }
    EXPECT_EQ(calls, 10 * 6 * 3);
}

INSTANTIATE_TEST_SUITE_P(Curves, HostileValues, ::testing::Values(1, 3, 4), [](const auto &info) {
    return info.param == 1 ? std::string("smooth") : "point_repeated_" + std::to_string(info.param);
});

TEST(HostileValues, ClampIsExactlyOneFromFarBeyond) {
    nurbs_curve curve;
    load_curve(test_curve(1), 3, &curve);
    cart_point P, d, dd, ddd;
    nurbs_deBoor_eval(0.99, -1, &curve, &P, &d, &dd, &ddd);
    const double v = 1e6, T = 0.25; // a step of 250 km from u = 0.99
    // The time expansions' second-order term may pull back; push them with acceleration, jerk.
    EXPECT_EQ(get_u_Taylor2(0, 1e9, 0.99, T, &d, &dd), 1.0);
    EXPECT_EQ(get_u_Taylor3(0, 0, 1e12, 0.99, T, &d, &dd, &ddd), 1.0);
    EXPECT_EQ(get_u_Taylor2_ds(v * T, 0.99, T, &d, &dd), 1.0);
    EXPECT_EQ(get_u_Taylor3_ds(v * T, 0.99, T, &d, &dd, &ddd), 1.0);
    EXPECT_EQ(get_u_RK2(v, 0.99, T, &P, &d, &curve), 1.0);
    EXPECT_EQ(get_u_T3SIA(v, 0, 0, 0.99, T, &curve), 1.0);
    EXPECT_EQ(get_u_NewtonRaphson(0.99, v, T, &curve, nullptr, &d, &dd), 1.0);
    reset_adams_moulton_history(0.98, 0.97);
    EXPECT_EQ(get_u_AdamsMoulton(0.99, v, T, 1.0, &curve), 1.0);
}

} // namespace
