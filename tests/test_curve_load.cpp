// Loading a curve for a tool: which path and why when it does not open, and the curves the
// arithmetic cannot carry refused with the place that overflows.
#include <gtest/gtest.h>

#include "io/curve_load.hpp"
#include "test_util.hpp"

using namespace nurbs_interp;
using namespace test_util;

namespace {

std::string load_error(const std::string &path) {
    nurbs_curve c;
    try {
        load_curve_checked(path, &c);
    } catch (const curve_error &e) {
        return e.what();
    }
    return "";
}

TEST(CurveLoad, SaysWhichFileAndWhy) {
    temp_dir dir;
    EXPECT_EQ(load_error(dir.file("none.nurbs")),
              dir.file("none.nurbs") + ": cannot open the curve file (No such file or directory)");
    EXPECT_EQ(load_error(dir.path.string()),
              dir.path.string() + ": is a directory, not a curve file");
    write_file(dir.file("bad.nurbs"), "N4\tL1\tD2\n");
    EXPECT_EQ(load_error(dir.file("bad.nurbs")), dir.file("bad.nurbs") + ":1: degree 1 is below 2");
    write_file(dir.file("ok.nurbs"), curve_text(straight_line(5, 3, 2.0), 3));
    EXPECT_EQ(load_error(dir.file("ok.nurbs")), "");
}

TEST(CurveLoad, OverflowingArithmeticIsRefused) {
    temp_dir dir;
    // Finite in the file, infinite once multiplied by the weight or differenced.
    write_file(dir.file("wx.nurbs"),
               curve_text({{1e300, 0, 0, 1e10}, {0, 1, 0, 1}, {1, 1, 0, 1}, {2, 0, 0, 1}}, 3));
    EXPECT_NE(load_error(dir.file("wx.nurbs")).find("homogeneous control point 1 is not finite"),
              std::string::npos);
    write_file(
        dir.file("diff.nurbs"),
        curve_text({{-1.5e308, 0, 0, 1}, {1.5e308, 1, 0, 1}, {1, 1, 0, 1}, {2, 0, 0, 1}}, 3));
    EXPECT_NE(load_error(dir.file("diff.nurbs")).find("first-derivative polygon point 1"),
              std::string::npos);
}

TEST(CurveLoad, ContentAfterTheLastControlPointIsRefusedWhereTheDriverIgnoresIt) {
    temp_dir dir;
    const std::string three = curve_text(straight_line(3, 2, 2.0), 2);
    const std::string five = curve_text(straight_line(5, 2, 2.0), 2);
    // The header of the three-point curve over the five point lines of another.
    const std::string more =
        three.substr(0, three.find('\n') + 1) + five.substr(five.find('\n') + 1);
    write_file(dir.file("more.nurbs"), more);
    EXPECT_EQ(load_error(dir.file("more.nurbs")),
              dir.file("more.nurbs") +
                  ":5: a control point line after the last one (the header N3 gives 3 control "
                  "points)");
    write_file(dir.file("text.nurbs"), three + "\n  end of curve\n");
    EXPECT_EQ(load_error(dir.file("text.nurbs")),
              dir.file("text.nurbs") +
                  ":6: text after the last control point (the header N3 gives 3 control points)");
    write_file(dir.file("same.nurbs"), three.substr(0, three.size() - 1) + " 7\n");
    EXPECT_NE(load_error(dir.file("same.nurbs")).find(":4: text after the last control point"),
              std::string::npos);
    // White space after the last point is no content.
    write_file(dir.file("blank.nurbs"), three + "\n \t\r\n\n");
    EXPECT_EQ(load_error(dir.file("blank.nurbs")), "");
    // The driver's loader reads the points the header gives and nothing after them.
    nurbs_curve c;
    nurbs_curve_alloc_file(dir.file("more.nurbs").c_str(), &c);
    EXPECT_EQ(c.ncp, 3u);
    nurbs_curve_alloc_file(dir.file("text.nurbs").c_str(), &c);
    EXPECT_EQ(c.ncp, 3u);
}

// Returns the message load_curve_checked_def throws for `def` named "made.nurbs" ("" when none).
std::string def_error(const curve_def &def) {
    nurbs_curve c;
    try {
        load_curve_checked_def(def, "made.nurbs", &c);
    } catch (const curve_error &e) {
        return e.what();
    }
    return "";
}

TEST(CurveLoad, ACurveMadeInMemoryIsCheckedAsItsFileWouldBe) {
    EXPECT_EQ(def_error({3, 2, straight_line(5, 3, 2.0), {}}), "");
    EXPECT_EQ(def_error({3, 2, {{0, 0, 0, 1}, {1, 1, 0, -1}, {1, 2, 0, 1}, {2, 0, 0, 1}}, {}}),
              "made.nurbs: control point 2 has a weight that is not positive");
    EXPECT_EQ(def_error({3, 2, {{1e300, 0, 0, 1e10}, {0, 1, 0, 1}, {1, 1, 0, 1}, {2, 0, 0, 1}}, {}})
                  .rfind("made.nurbs: homogeneous control point 1 is not finite", 0),
              0u);
}

} // namespace
