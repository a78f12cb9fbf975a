// The accurate arc length and its inverse (Gauss-Legendre per knot span, Newton's method),
// against exact lengths and against the driver's own quadrature.
#include <gtest/gtest.h>

#include <cmath>

#include "arc_length.hpp"
#include "nurbs.hpp"

using namespace nurbs_interp;

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

TEST(ArcLength, AgreesWithTheDriverQuadratureOnTheBundledCurve) {
    arc_table tab;
    arc_table_build(bundled_curve(), &tab);
    // Two independent quadratures of the same integral; 1e-8 mm is far below anything the
    // tools rely on and far above the rounding of either.
    EXPECT_NEAR(arc_table_length(tab), driver_length(), 1e-8);
    for (double u : {0.013, 0.25, 0.5003, 0.77, 0.999})
        EXPECT_NEAR(arc_length_to(tab, u),
                    adaptiveSimpsons(nurbs_arc_len, bundled_curve(), 0.0, u, 1e-12, 30), 1e-8);
}

} // namespace
