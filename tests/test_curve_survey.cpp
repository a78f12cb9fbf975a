// The survey of a curve, checked against closed forms: on a parabola written as one quadratic
// span, the smallest radius of curvature is the parabola's at its vertex and the smallest
// parameter speed the constant speed across its axis, both between the survey's samples.
#include <gtest/gtest.h>

#include <cmath>

#include "core/curve_def.hpp"
#include "core/geometric.hpp"
#include "plan/curve_survey.hpp"

using namespace nurbs_interp;

namespace {

TEST(CurveSurvey, ExtremesBetweenSamplesAreRefinedToTheClosedForm) {
    // The parabola y = x^2 / (2 p) from x = -L1 to x = L2 as one quadratic Bezier span: the
    // middle control point is where the end tangents meet, ((L2 - L1) / 2, -L1 L2 / (2 p)), so
    // x(u) is linear in u. Radius of curvature p at the vertex x = 0, u = L1 / (L1 + L2) = 0.3,
    // where C' is (L1 + L2, 0): the least speed.
    const double p = 0.5, L1 = 3, L2 = 7;
    curve_def d;
    d.deg = 2;
    d.points = {{-L1, L1 * L1 / (2 * p), 0, 1},
                {(L2 - L1) / 2, -L1 * L2 / (2 * p), 0, 1},
                {L2, L2 * L2 / (2 * p), 0, 1}};
    nurbs_curve c;
    nurbs_curve_alloc_def(d, &c);
    // Three samples a span: u = 0, 1/3, 2/3 and the end; the vertex lies between two of them.
    const curve_survey r = survey_curve(&c, 3);
    cart_point P, d1, d2;
    nurbs_deBoor_eval(1.0 / 3, -1, &c, &P, &d1, &d2, nullptr);
    ASSERT_GT(curvature_rad_at_point(&d1, &d2), 1.05 * p) << "the nearest sample misses it";
    EXPECT_NEAR(r.rmin, p, 1e-12 * p);
    EXPECT_NEAR(r.u_rmin, L1 / (L1 + L2), 1e-6);
    EXPECT_NEAR(r.vmin, L1 + L2, 1e-12 * (L1 + L2));
    // The largest speed at the steeper end: 2 |P2 - P1|.
    const double dx = L2 - (L2 - L1) / 2, dy = L2 * L2 / (2 * p) + L1 * L2 / (2 * p);
    EXPECT_NEAR(r.vmax, 2 * std::hypot(dx, dy), 1e-12 * r.vmax);
}

TEST(CurveSurvey, SpeedsOnBothSidesOfAJoint) {
    // Two straight edges of different parameter speed, a doubled knot between (degree 2):
    // 10 mm over the first half of u (speed 20), 40 mm over the second (speed 80). The
    // evaluator gives the joint the far side's speed; the survey sees both.
    curve_def d;
    d.deg = 2;
    d.points = {{0, 0, 0, 1}, {5, 0, 0, 1}, {10, 0, 0, 1}, {30, 0, 0, 1}, {50, 0, 0, 1}};
    d.knots = {0, 0, 0, 1, 1, 2, 2, 2};
    nurbs_curve c;
    nurbs_curve_alloc_def(d, &c);
    const curve_survey r = survey_curve(&c, 4);
    EXPECT_NEAR(r.vmin, 20, 1e-12);
    EXPECT_NEAR(r.vmax, 80, 1e-12);
    EXPECT_NEAR(r.length, 50, 1e-12);
}

} // namespace
