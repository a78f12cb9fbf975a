#include <gtest/gtest.h>

#include <cmath>

#include "core/geometric.hpp"

namespace {

TEST(VectorOps, DegenerateAndSymmetricCases) {
    const cart_point zero{0, 0, 0}, ex{1, 0, 0}, ey{0, 1, 0};
    const cart_point a{1.5, -2.0, 0.25}, b{-3.0, 4.0, 7.0};
    EXPECT_EQ(modulus(&zero), 0.0);
    EXPECT_EQ(cart_dist(&a, &a), 0.0);
    EXPECT_EQ(dotprod(&ex, &ey), 0.0);
    EXPECT_EQ(cart_dist(&a, &b), cart_dist(&b, &a));
    EXPECT_EQ(mod_crossprod(&ex, &ey), 1.0);
    EXPECT_EQ(mod_crossprod(&a, &zero), 0.0);
    const cart_point a2{3.0, -4.0, 0.5};
    EXPECT_EQ(mod_crossprod(&a, &a2), 0.0); // parallel
    // Callers form squared norms as dotprod(p, p): both arguments may be the same record.
    EXPECT_EQ(dotprod(&a, &a), sq_modulus(&a));
}

TEST(VectorOps, ValuesAgainstHandComputation) {
    const cart_point a{1.0, 2.0, 2.0}, b{4.0, -1.0, 3.0};
    EXPECT_EQ(dotprod(&a, &b), 8.0);
    EXPECT_EQ(modulus(&a), 3.0);
    EXPECT_EQ(sq_modulus(&b), 26.0);
    // a x b = (2*3 - 2*(-1), 2*4 - 1*3, 1*(-1) - 2*4) = (8, 5, -9)
    EXPECT_DOUBLE_EQ(mod_crossprod(&a, &b), std::sqrt(170.0));
    EXPECT_DOUBLE_EQ(cart_dist(&b, &a), std::sqrt(9.0 + 9.0 + 1.0));
}

// Pinned on purpose: the guard constants and which test comes first are the documented
// contract of both functions.
TEST(Curvature, GuardsTestNumeratorFirst) {
    const cart_point zero{0, 0, 0}, bend{0, 1, 0};
    // At zero speed the radius looks at |C'|^3 first, the curvature at |C' x C''| first.
    EXPECT_EQ(curvature_rad_at_point(&zero, &bend), 1e-11);
    EXPECT_EQ(curvature_at_point(&zero, &bend), 1e-6);
    // Straight segment: radius capped at 1e13 (not 1e11); curvature floored at any speed.
    const cart_point fast{5, 0, 0}, along{2, 0, 0}, slow{1e-4, 0, 0};
    EXPECT_EQ(curvature_rad_at_point(&fast, &zero), 1e13);
    EXPECT_EQ(curvature_rad_at_point(&fast, &along), 1e13);
    EXPECT_EQ(curvature_at_point(&fast, &along), 1e-6);
    EXPECT_EQ(curvature_at_point(&slow, &zero), 1e-6);
}

TEST(Curvature, UnitSpeedCircle) {
    for (double R : {0.5, 5.0, 250.0}) {
        const cart_point d{0, 1, 0}, dd{-1.0 / R, 0, 0};
        EXPECT_DOUBLE_EQ(curvature_rad_at_point(&d, &dd), R);
        EXPECT_DOUBLE_EQ(curvature_at_point(&d, &dd), 1.0 / R);
    }
    const cart_point d{0, 1, 0};
    const cart_point big{-1.0 / 2e6, 0, 0}, huge{-1.0 / 2e11, 0, 0};
    EXPECT_EQ(curvature_at_point(&d, &big), 1e-6); // R above 1e6: curvature floor
    EXPECT_DOUBLE_EQ(curvature_rad_at_point(&d, &big), 2e6);
    EXPECT_EQ(curvature_rad_at_point(&d, &huge), 1e13); // R above 1e11: radius cap
}

TEST(Curvature, ThresholdItselfDoesNotTrigger) {
    // |C' x C''| is exactly 1e-6 (powers of two scale exactly) and |C'|^3 = 2^-30 < 1e-6: a
    // strict test goes on to the denominator guard and returns the cap 1e8, not the floor.
    const double s = std::ldexp(1.0, -10);
    const cart_point d{s, 0, 0}, dd{0, std::ldexp(1e-6, 10), 0};
    ASSERT_EQ(mod_crossprod(&d, &dd), 1e-6);
    EXPECT_EQ(curvature_at_point(&d, &dd), 1e8);
}

TEST(Curvature, NanReachesTheDivision) {
    const cart_point d{NAN, 1, 0}, dd{0, 1, 0};
    EXPECT_TRUE(std::isnan(curvature_at_point(&d, &dd)));
    EXPECT_TRUE(std::isnan(curvature_rad_at_point(&d, &dd)));
}

} // namespace
