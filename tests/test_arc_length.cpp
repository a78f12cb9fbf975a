// The accurate arc length and its inverse (adaptive Gauss-Kronrod per knot span, Newton's
// method): against closed forms, against an independent quadrature, against the driver's own.
#include <gtest/gtest.h>

#include <cmath>

#include "plan/arc_length.hpp"
#include "plan/curve_length.hpp"
#include "io/curve_load.hpp"
#include "core/nurbs.hpp"
#include "shapes/suite_curves.hpp"
#include "test_curves.hpp"

using namespace nurbs_interp;
using namespace test_curves;

namespace {

// The bundled curve, loaded once.
nurbs_curve *bundled_curve() {
    static nurbs_curve curve;
    static bool loaded = false;
    if (!loaded) nurbs_curve_alloc_file(NURBS_BUNDLED_DATA "/S1200X30quorbel.nurbs", &curve);
    loaded = true;
    return &curve;
}

// The driver's total length of it (adaptive Simpson, 1e-12, depth 30).
double driver_length() {
    static const double len = adaptiveSimpsons(nurbs_arc_len, bundled_curve(), 0.0, 1.0, 1e-12, 30);
    return len;
}

// Returns the accurate length of `c`.
double length_of(const curve_def &c, nurbs_curve *curve = nullptr) {
    nurbs_curve local;
    nurbs_curve *target = curve ? curve : &local;
    load(c, target);
    arc_table tab;
    arc_table_build(target, &tab);
    EXPECT_EQ(tab.unconverged, 0u);
    return arc_table_length(tab);
}

TEST(ArcLength, QuarterCircleLengthAndInverseAreExact) {
    // Every point of the rational quarter circle lies at radius 1, so the arc length to a
    // point is its polar angle: an independent check of both directions.
    nurbs_curve c;
    nurbs_curve_alloc_file(NURBS_TEST_DATA "/quarter_circle.nurbs", &c);
    arc_table tab;
    arc_table_build(&c, &tab);
    EXPECT_NEAR(arc_table_length(tab), M_PI / 2, 1e-14);
    for (double s : {1e-9, 0.1, 0.5, 0.785, 1.2, 1.5707}) {
        const double u = arc_param_at(tab, s);
        cart_point P;
        nurbs_deBoor_eval(u, -1, &c, &P, nullptr, nullptr, nullptr);
        EXPECT_NEAR(std::atan2(P.y, P.x), s, 2e-15) << "s = " << s;
        EXPECT_NEAR(arc_length_to(tab, u), s, 2e-15);
    }
    EXPECT_EQ(arc_param_at(tab, -1.0), 0.0);
    EXPECT_EQ(arc_param_at(tab, 10.0), 1.0);
}

TEST(ArcLength, CirclesAndConicsMeasureTheirClosedForms) {
    // However the knots are written, a circle is 2 pi R long (a 1e-12 relative bound: the
    // quadrature aims at 1e-13 per span).
    const double tol = 1e-12;
    EXPECT_NEAR(length_of(circle9(50)), 2 * M_PI * 50, tol * 2 * M_PI * 50);
    EXPECT_NEAR(length_of(circle9(40, 30 * M_PI / 180)), 2 * M_PI * 40, tol * 2 * M_PI * 40);
    EXPECT_NEAR(length_of(circle7(50)), 2 * M_PI * 50, tol * 2 * M_PI * 50);
    EXPECT_NEAR(length_of(suite_circle()), 2 * M_PI * 50, tol * 2 * M_PI * 50);
    // An ellipse: 4 a E(e), E the complete elliptic integral of the second kind.
    const double a = 60, b = 30, e = std::sqrt(1 - b * b / (a * a));
    const double ellipse = 4 * a * std::comp_ellint_2(e);
    EXPECT_NEAR(length_of(ellipse9(a, b)), ellipse, tol * ellipse);
    // A stadium: two half circles and two lines.
    EXPECT_NEAR(length_of(stadium(20, 100)), 2 * M_PI * 20 + 200, tol * (2 * M_PI * 20 + 200));
}

TEST(ArcLength, TheDriversWholeCurveQuadratureIsFooledByTheCircleThisIsNot) {
    // The symmetric quarters of the usual nine-point circle make the first Simpson step over
    // [0, 1] agree with itself: the driver's quadrature stops at once, 10 % short.
    nurbs_curve c;
    load(circle9(50), &c);
    EXPECT_NEAR(adaptiveSimpsons(nurbs_arc_len, &c, 0.0, 1.0, 1e-12, 30), 200 * std::sqrt(2.0),
                1e-9);
    arc_table tab;
    arc_table_build(&c, &tab);
    EXPECT_NEAR(arc_table_length(tab), 100 * M_PI, 1e-12 * 100 * M_PI);
}

TEST(ArcLength, StronglyWeightedCubicsAgreeWithAnIndependentQuadrature) {
    // Weights alternating 1e4 and 1e-4 (both ends heavy): the speed peaks sharply inside the
    // spans, where a fixed-order rule per span fell 16 % short.
    {
        nurbs_curve c;
        const double len = length_of(alternating_weights(13, 1e4), &c);
        EXPECT_NEAR(len, reference_length(&c), 1e-12 * len);
    }
    // Weights 1e8 and 1e-8 ending on a light point: the curve rushes onto the last control
    // point within 1e-16 of u = 1, closer than a double can resolve next to 1. The reference,
    // 137.79271744357763451 mm, was computed in 40-digit arithmetic (Python mpmath:
    // tanh-sinh quadrature per span on a grid graded toward both ends, the derivative of the
    // exact rational function), independently of this library.
    {
        measured_curve m(alternating_weights(12, 1e8));
        EXPECT_NEAR(arc_table_length(m.arc), 137.79271744357763451, 1e-12 * 137.8);
        EXPECT_EQ(m.arc.unconverged, 1u) << "the last span is resolved only to its chord";
    }
    // Weights spread over 1e-8 .. 1e8 at random, on a random control polygon.
    {
        curve_def d = random_cubic(15, 3);
        for (std::size_t i = 0; i < d.points.size(); ++i)
            d.points[i].w = std::pow(10.0, 8 * std::sin(1.7 * double(i) + 0.3));
        d.points.front().w = d.points.back().w = 1;
        nurbs_curve c;
        const double len = length_of(d, &c);
        EXPECT_NEAR(len, reference_length(&c), 1e-12 * len);
    }
}

TEST(ArcLength, ASingleSpanOfTheHighestDegree) {
    nurbs_curve c;
    const double len = length_of(degree25(), &c);
    EXPECT_NEAR(len, reference_length(&c), 1e-12 * len);
    EXPECT_GT(len, 700) << "a spiral of 26 points about 60 to 140 mm out";
}

TEST(ArcLength, LengthToAndParameterAtInvertEachOtherOnAStronglyWeightedCurve) {
    measured_curve m(alternating_weights(13, 1e4));
    const arc_table &tab = m.arc;
    const double len = arc_table_length(tab);
    for (int k = 1; k < 200; ++k) {
        const double s = len * k / 200.0;
        EXPECT_NEAR(arc_length_to(tab, arc_param_at(tab, s)), s, 1e-12 * len) << s;
    }
    // Monotone over the parameter, span ends included.
    double prev = 0;
    for (int k = 1; k <= 5000; ++k) {
        const double s = arc_length_to(tab, k / 5000.0);
        ASSERT_GE(s, prev) << k;
        prev = s;
    }
}

TEST(ArcLength, AgreesWithTheDriverQuadratureOnTheBundledCurve) {
    arc_table tab;
    arc_table_build(bundled_curve(), &tab);
    // Two independent quadratures of the same integral; 1e-8 mm is far below anything the
    // tools rely on and far above the rounding of either.
    EXPECT_NEAR(arc_table_length(tab), driver_length(), 1e-8);
    for (double u : {0.013, 0.25, 0.5003, 0.77, 0.999})
        EXPECT_NEAR(arc_length_to(tab, u),
                    adaptiveSimpsons(nurbs_arc_len, bundled_curve(), 0.0, u, 1e-12, 30), 1e-8);
    EXPECT_EQ(driver_length_beside(bundled_curve(), arc_table_length(tab), "b", "test"),
              driver_length())
        << "within 1e-9 the driver's own measurement is kept";
}

TEST(ArcLength, ToolsRefuseACurveOfZeroLength) {
    nurbs_curve dot;
    load_curve_checked_def({3, 2, std::vector<nurbs_ctrl_pt>(5, {3, 4, 0, 1}), {}}, "dot.nurbs",
                           &dot);
    arc_table tab;
    try {
        tool_arc_table(&dot, "dot.nurbs", "test", &tab);
        FAIL();
    } catch (const curve_error &e) {
        EXPECT_STREQ(e.what(), "dot.nurbs: the curve has zero length (all its points coincide)");
    }
}

} // namespace
