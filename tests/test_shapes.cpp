// The curves the project makes: the flower is the bundled curve file, byte for byte; the part
// outline is closed, its knots are the arc lengths of its joints and its length that of the
// plate drawn in part_outline.hpp.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "io/curve_file.hpp"
#include "plan/arc_length.hpp"
#include "shapes/flower.hpp"
#include "shapes/part_outline.hpp"
#include "test_util.hpp"

using namespace nurbs_interp;

namespace {

TEST(Shapes, TheFlowerIsTheBundledCurve) {
    const curve_def f = flower_curve();
    EXPECT_TRUE(f.knots.empty());
    EXPECT_EQ(curve_file_text(f),
              test_util::read_file(NURBS_BUNDLED_DATA "/S1200X30quorbel.nurbs"));
}

TEST(Shapes, ThePartOutlineIsClosedAndItsKnotsAreItsArcLength) {
    const part_outline o = plate_outline();
    std::size_t at = 0;
    EXPECT_EQ(curve_def_problem(o.curve, &at), "");
    ASSERT_EQ(o.joints.size(), 13u); // eight edges (the slot's three included), four corners
    EXPECT_EQ(o.curve.points.size(), 27u);
    EXPECT_EQ(o.curve.points.front().x, o.curve.points.back().x);
    EXPECT_EQ(o.curve.points.front().y, o.curve.points.back().y);
    // The rectangle less its rounded corners, the slot's sides and four quarter circles.
    EXPECT_NEAR(o.length, 2 * (120 + 80) - 8 * 10 + 2 * 15 + 20 * std::numbers::pi, 1e-12);
    nurbs_curve c;
    nurbs_curve_alloc_def(o.curve, &c);
    arc_table arc;
    arc_table_build(&c, &arc);
    EXPECT_NEAR(arc_table_length(arc), o.length, 1e-9);
    for (std::size_t j = 0; j + 1 < o.joints.size(); ++j) {
        const double u = c.knots[3 + 2 * j]; // each joint's doubled knot, mapped onto [0, 1]
        EXPECT_EQ(c.knots[4 + 2 * j], u) << j;
        EXPECT_NEAR(arc_length_to(arc, u), o.joints[j], 1e-9) << j;
    }
}

} // namespace
