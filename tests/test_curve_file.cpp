// The curve-file writer: the text it prints (no K lines for clamped uniform knots, no z in
// dimension 2), and values that read back to the same doubles.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "io/curve_file.hpp"

using namespace nurbs_interp;

namespace {

TEST(CurveFile, UniformKnotsWriteNoKLinesAndAPlanarCurveNoZ) {
    const curve_def planar{2, 2, {{1, 2, 7, 1}, {0.5, -3, 7, 0.25}, {-0.0, 1e-300, 7, 4}}, {}};
    EXPECT_EQ(curve_file_text(planar), "N3\tL2\tD2\n"
                                       "X1\tY2\tP1\n"
                                       "X0.5\tY-3\tP0.25\n"
                                       "X-0\tY1e-300\tP4\n");
    const curve_def spatial{2, 3, planar.points, {-1, -1, -1, 2, 2, 2}};
    EXPECT_EQ(curve_file_text(spatial), "N3\tL2\tD3\n"
                                        "K-1\nK-1\nK-1\nK2\nK2\nK2\n"
                                        "X1\tY2\tZ7\tP1\n"
                                        "X0.5\tY-3\tZ7\tP0.25\n"
                                        "X-0\tY1e-300\tZ7\tP4\n");
}

TEST(CurveFile, EveryValueReadsBackToTheSameDouble) {
    const double values[] = {0.1, 1.0 / 3, -2.0 / 7, 1e308, 4.9e-324, M_PI * 1e-17};
    curve_def c{2, 3, {}, {}};
    for (double v : values)
        c.points.push_back({v, -v, v * 0.5, std::fabs(v)});
    const std::string text = curve_file_text(c);
    std::size_t pos = text.find('\n') + 1;
    for (double v : values) {
        double x, y, z, w;
        ASSERT_EQ(std::sscanf(text.c_str() + pos, "X%lf\tY%lf\tZ%lf\tP%lf", &x, &y, &z, &w), 4);
        EXPECT_EQ(x, v);
        EXPECT_EQ(y, -v);
        EXPECT_EQ(z, v * 0.5);
        EXPECT_EQ(w, std::fabs(v));
        pos = text.find('\n', pos) + 1;
    }
}

} // namespace
