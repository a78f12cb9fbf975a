// The feedrate correction table fitter, checked independently on the exact rational quarter
// circle, where the arc length to a point is R times its polar angle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "arc_length.hpp"
#include "table_fit.hpp"
#include "test_util.hpp"

using namespace nurbs_interp;
using namespace test_util;

namespace {

TEST(TableFit, QuarterCircleTableReachesItsReportedAccuracy) {
    temp_dir dir;
    nurbs_curve c;
    const double R = 10, w = std::sqrt(0.5);
    load_curve(dir, {{R, 0, 0, 1}, {R, R, 0, w}, {0, R, 0, 1}}, 2, &c);
    arc_table arc;
    arc_table_build(&c, &arc);
    const double len = M_PI * R / 2;
    const fcp_table t = fcp_fit(arc, len, 9);
    ASSERT_EQ(t.sbrk.size(), 9u);
    ASSERT_EQ(t.tht.size(), 8u);
    EXPECT_TRUE(fcp_table_finite(t));
    EXPECT_EQ(t.sbrk.front(), 0.0);
    EXPECT_EQ(t.sbrk.back(), len);
    const fcp_accuracy acc = fcp_measure(t, arc, 64);
    // Independently: the point at the table's parameter lies at angle s / R.
    double worst = 0;
    for (int k = 0; k <= 4000; ++k) {
        const double s = len * k / 4000.0;
        cart_point P;
        nurbs_deBoor_eval(fcp_runtime_u(t, s, 0, 0), -1, &c, &P, nullptr, nullptr, nullptr);
        worst = std::max(worst, std::fabs(R * std::atan2(P.y, P.x) - s));
    }
    // fcp_measure samples 65 points per piece, this check 4001 over the whole curve; they see
    // the same error to within its variation between samples (a few percent).
    EXPECT_LE(worst, 1.1 * acc.max_s_err + 1e-13);
    EXPECT_GE(worst, 0.5 * acc.max_s_err);
    EXPECT_LT(acc.max_s_err, 1e-6) << "8 quintic pieces follow a quarter circle closely";
    EXPECT_LE(acc.max_mismatch, 1e-15);
}

TEST(TableFit, AHeaderIsWrittenOnlyFromFiniteNumbers) {
    fcp_table t;
    t.sbrk = {0.0, 1.0};
    t.tht = {{0, 0, 0, 0, 1, 0}};
    EXPECT_TRUE(fcp_table_finite(t));
    t.tht[0][2] = NAN;
    EXPECT_FALSE(fcp_table_finite(t));
    t.tht[0][2] = 0;
    t.sbrk[1] = INFINITY;
    EXPECT_FALSE(fcp_table_finite(t));
}

TEST(TableFit, BreakpointsStandOnTheJointsOfACircleWithDoubledKnots) {
    // The full circle, a quarter per span with doubled knots between: the parameter speed jumps
    // at the joints, so u(s) has a kink there that no piece may straddle.
    temp_dir dir;
    const double R = 50, w = std::sqrt(0.5);
    std::string text = "N9\tL2\tD2\n";
    for (double k : {0, 0, 0, 1, 1, 3, 3, 4, 4, 7, 7, 7})
        text += "K" + std::to_string(k) + "\n";
    const double xs[9] = {1, 1, 0, -1, -1, -1, 0, 1, 1}, ys[9] = {0, 1, 1, 1, 0, -1, -1, -1, 0};
    for (int i = 0; i < 9; ++i) {
        char line[96];
        std::snprintf(line, sizeof line, "X%.17g\tY%.17g\tP%.17g\n", R * xs[i], R * ys[i],
                      i % 2 ? w : 1.0);
        text += line;
    }
    write_file(dir.file("circle.nurbs"), text);
    nurbs_curve c;
    nurbs_curve_alloc_file(dir.file("circle.nurbs").c_str(), &c);
    arc_table arc;
    arc_table_build(&c, &arc);
    const double len = 2 * M_PI * R;
    const fcp_table t = fcp_fit(arc, len, 41);
    for (int q = 1; q < 4; ++q) {
        const double joint = arc.s_knot[q];
        EXPECT_NEAR(joint, q * len / 4, 1e-9);
        EXPECT_NE(std::find(t.sbrk.begin(), t.sbrk.end(), joint), t.sbrk.end()) << q;
    }
    // Independently, the point at the table's parameter lies at polar angle s / R.
    double worst = 0;
    for (int k = 0; k < 8000; ++k) {
        const double s = len * k / 8000.0;
        cart_point P;
        nurbs_deBoor_eval(fcp_runtime_u(t, s, 0, 0), -1, &c, &P, nullptr, nullptr, nullptr);
        double a = std::atan2(P.y, P.x);
        if (a < -1e-9) a += 2 * M_PI;
        worst = std::max(worst, std::fabs(R * a - s));
    }
    EXPECT_LT(worst, 1e-6) << "40 pieces, none across a kink of u(s)";
}

} // namespace
