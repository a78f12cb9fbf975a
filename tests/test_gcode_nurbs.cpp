// The G-code reader: a hand-written program as a CNC programmer would write it (comments, block
// numbers, lower case, modal axes, default weights, two curves) gives exactly the values
// programmed; every malformed program is refused naming the file, the line and the fault. The
// writer: what it writes reads back exactly.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "io/format.hpp"
#include "io/gcode_nurbs.hpp"
#include "test_util.hpp" // written_text

using namespace nurbs_interp;

namespace {

// Returns the message read_gcode_nurbs_text throws for `program` ("" when it reads it).
std::string refusal(const std::string &program) {
    try {
        read_gcode_nurbs_text(program, "prog.ngc");
    } catch (const import_error &e) {
        return e.what();
    }
    return "";
}

// Returns the control points of `c` as (x, y, z, w) rows, for comparing whole curves.
std::vector<std::array<double, 4>> rows(const curve_def &c) {
    std::vector<std::array<double, 4>> r;
    for (const nurbs_ctrl_pt &p : c.points)
        r.push_back({p.x, p.y, p.z, p.w});
    return r;
}

const char *const PROGRAM = R"(%
O0042 (HAND-WRITTEN TEST PROGRAM)
N10 G90 G21 ; absolute, mm
N20 G0 X5 Y-3 Z12.5
n30 g91 g1 x1.5 f300 (incremental: x 6.5, y stays -3)
N35 X.75
N40 G90 G6.2 P3 K0 ; first point: x 7.25 and y -3 from the moves before
N50 k0 x10 y0 r0.70710678118654757
N60 K0 Y+2.5 M8
N70 K0.5 X12. R2
N80 K1
N90 K1
N100 K1
N110 G1 X0 Y0
(second curve: rank 4 by default, in 3D)
N120 G06.2 K-2 X1 Y1 Z1 F500
N130 K-2 X2
N140 K-2 Y3 Z-1.5 R0.25
N150 K-2 X-.5 Y4
N160 K0.5 Z2
N170 K3
N180 K3
N190 K3
N200 K3
N210 M30
%
)";

TEST(GcodeNurbs, HandWrittenProgramGivesTheProgrammedValues) {
    const std::vector<gcode_curve> c = read_gcode_nurbs_text(PROGRAM, "prog.ngc");
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].line, 7u);
    EXPECT_EQ(c[0].curve.deg, 2u);
    EXPECT_EQ(c[0].curve.dim, 2u);
    const double h = std::sqrt(2.0) / 2;
    using row = std::array<double, 4>;
    EXPECT_EQ(rows(c[0].curve),
              (std::vector<row>{
                  {7.25, -3, 12.5, 1}, {10, 0, 12.5, h}, {10, 2.5, 12.5, 1}, {12, 2.5, 12.5, 2}}));
    EXPECT_EQ(c[0].curve.knots, (std::vector<double>{0, 0, 0, 0.5, 1, 1, 1}));
    EXPECT_EQ(c[1].line, 16u);
    EXPECT_EQ(c[1].curve.deg, 3u);
    EXPECT_EQ(c[1].curve.dim, 3u);
    EXPECT_EQ(
        rows(c[1].curve),
        (std::vector<row>{
            {1, 1, 1, 1}, {2, 1, 1, 1}, {2, 3, -1.5, 0.25}, {-0.5, 4, -1.5, 1}, {-0.5, 4, 2, 1}}));
    EXPECT_EQ(c[1].curve.knots, (std::vector<double>{-2, -2, -2, -2, 0.5, 3, 3, 3, 3}));
}

// A curve of rank 3 with 3 control points, the block of its first point on line 1.
const std::string GOOD = "G06.2 P3 K0 X0 Y0\nK0 X1 Y1\nK0 X2 Y0\nK1\nK1\nK1\n";

TEST(GcodeNurbs, MalformedProgramsAreRefusedWithFileLineAndFault) {
    struct bad {
        std::string program, line, fragment; // the message: "prog.ngc:<line>: ...<fragment>..."
    };
    const std::vector<bad> cases = {
        {"G06.2 P3 K0 X0 Y0\nK0 X1 Y1\nK0 X2 Y0\nK1\nK0.5\nK1\n", "5", "knots must not decrease"},
        {"G06.2 P3 K0 X0 Y0\nK0 X1 Y1\nK0 X2 Y0\nK1\nK1\nG1 X5\n", "6",
         "G1 inside the NURBS curve started at line 1 (rank 3): 2 of its 3 trailing"},
        {"G06.2 P3 K0 X0 Y0\nK0 X1 Y1\nK0 X2 Y0\nK1\nX5 Y5\n", "5",
         "block is neither a control point (K with X/Y/Z/R) nor a knot-only block"},
        {"G06.2 P3 K0 X0 Y0\nK0 X1 Y1\nK0 X2 Y0\nK1\nK1\n", "5",
         "the program ends inside the NURBS curve started at line 1 (rank 3): 2 of its 3"},
        {"G06.2 P3 K0 X0 Y0\nK0 X1 Y1\nK1\nK0 X2 Y0\nK1\nK1\n", "4",
         "control point after the trailing knot-only blocks"},
        {"G06.2 P2 K0 X0 Y0\n", "1", "rank P2 is outside 3..26"},
        {"G06.2 P3.5 K0 X0 Y0\n", "1", "rank P3.5 is outside"},
        {"G06.2 P3 K0 X0 Y0\nK0 X1 Y1 R0\n", "2", "weight R0 is not positive"},
        {"G06.2 P3 K0 Xabc Y0\n", "1", "word \"Xabc"},
        {"G06.2 P3 K0 X1.2.3 Y0\n", "1", "word \"X1.2.3\": \"1.2.3\" is not a number"},
        {"G0 X#1\n", "1", "word \"X#1\": \"#1\" is not a number"},
        {"#1=5\n", "1", "\"#1=5\": expected a word"},
        {"G1 X1 (unclosed\n", "1", "comment \"(\" is not closed"},
        {"G06.2 P3 X0 Y0\n", "1", "G06.2 block without a knot K"},
        {"G91\nG06.2 P3 K0 X0 Y0\n", "2", "NURBS block in incremental mode (G91)"},
        {"G06.2 P3 K0 X0 Y0\nG91 K0 X1 Y1\n", "2", "NURBS block in incremental mode (G91)"},
        {"%\nG0 X1 Y1\nG1 X2 ; no curve\n%\n", "4", "the program holds no NURBS block"},
        // Finished curves the curve file cannot hold: reported at their first block.
        {"G0 X0\nG06.2 P3 K0 X0 Y0\nK0.1 X1 Y1\nK0.2 X2 Y0\nK1\nK1\nK1\n", "2",
         "NURBS curve: the first 3 knots must be equal (a clamped start); knot 2 is 0.1 (K "
         "on line 3)"},
        {"G06.2 P3 K0 X0 Y0\nK0 X1 Y1\nK0 X2 Y0\nK1\nK1\nK2\n", "1",
         "NURBS curve: the last 3 knots must be equal"},
        {"G06.2 K0 X0 Y0\nK0 X1 Y1\nK1\nK1\nK1\nK1\n", "1",
         "NURBS curve: 2 control points are fewer than degree + 1 = 4"},
        {"G06.2 P3 K5 X0 Y0\nK5 X1 Y1\nK5 X2 Y0\nK5\nK5\nK5\n", "1",
         "NURBS curve: the knots span no range"},
        // Hostile bytes: control bytes shown as '?', an endless line, a number beyond range.
        {"G06.2 P3 K0 X0 Y0\n" + std::string("\0\x01X1\n", 5), "2", "\"??X1\": expected a word"},
        {GOOD + std::string(70000, ' ') + "X1\n", "7", "line longer than 65536 characters"},
        {"G0 X1" + std::string(400, '0') + "\n", "1", "is not a number"},
    };
    for (const bad &b : cases) {
        const std::string msg = refusal(b.program);
        EXPECT_EQ(msg.rfind("prog.ngc:" + b.line + ": ", 0), 0u) << b.program << " -> " << msg;
        EXPECT_NE(msg.find(b.fragment), std::string::npos) << b.program << " -> \"" << msg << "\"";
    }
    EXPECT_EQ(refusal(GOOD), "");
    EXPECT_EQ(refusal("G06.2 P3 K0 X0." + std::string(300, '1') + GOOD.substr(14)), "");
    EXPECT_EQ(refusal(""), "prog.ngc: empty file, no NURBS block");
}

TEST(GcodeNurbs, ExponentsAreReadAsPrintfWritesThem) {
    const std::vector<gcode_curve> c = read_gcode_nurbs_text(
        "G06.2 P3 K0 X1e1 Y1.5E-3\nK0 X2.5e+1 Y-1E2 R5e-1\nK0 X3.E0 Y1 E7\nK1e0\nK1\nK1\n",
        "e.ngc");
    ASSERT_EQ(c.size(), 1u);
    using row = std::array<double, 4>;
    EXPECT_EQ(rows(c[0].curve),
              (std::vector<row>{{10, 0.0015, 0, 1}, {25, -100, 0, 0.5}, {3, 1, 0, 1}}));
    // Every double printed with %.17g (exponents where it chooses them) reads back exactly.
    const double values[] = {1e-20,
                             6.02214076e23,
                             -3.0000000000000004e-7,
                             1.2345678901234568e17,
                             4.9406564584124654e-324,
                             -1.7976931348623157e308};
    std::string program = "G06.2 P3 K0 X0 Y0\n";
    for (std::size_t i = 0; i < std::size(values); ++i) // knots 0, 0, 0, 1, 2, 3, 4, then 5 x 3
        program += "K" + std::to_string(i < 2 ? 0 : i - 1) + " X" + fmt("%.17g", values[i]) + " Y" +
                   fmt("%.17g", -values[i] / 3) + "\n";
    program += "K5\nK5\nK5\n";
    const curve_def r = read_gcode_nurbs_text(program, "e.ngc").at(0).curve;
    for (std::size_t i = 0; i < std::size(values); ++i) {
        EXPECT_EQ(r.points[i + 1].x, values[i]) << fmt("%.17g", values[i]);
        EXPECT_EQ(r.points[i + 1].y, -values[i] / 3) << fmt("%.17g", values[i]);
    }
    // Exponents that are not numbers are named, never read as another number.
    for (const auto &[block, fragment] : std::vector<std::pair<std::string, std::string>>{
             {"G0 X1e", "E is not followed by a number"},
             {"G0 X1e+", "word \"E+\": \"+\" is not a number"},
             {"G0 X1e400", "word \"X1e400\": \"1e400\" is not a number"},
             {"G0 X.e5", "\".e5\" is not a number"}}) {
        const std::string msg = refusal(block + "\n" + GOOD);
        EXPECT_EQ(msg.rfind("prog.ngc:1: ", 0), 0u) << block << " -> " << msg;
        EXPECT_NE(msg.find(fragment), std::string::npos) << block << " -> " << msg;
    }
}

TEST(GcodeNurbs, InchesAreConvertedToMillimetresAndAByteOrderMarkIsSkipped) {
    // G20 before the first curve; the modal X (1 inch) carries into its first point; G21
    // before the second.
    const std::vector<gcode_curve> c = read_gcode_nurbs_text(
        "\xEF\xBB\xBF%\nG20 G0 X1\nG06.2 P3 K0 Y0\nK0 X2 Y1 R0.5\nK0 X3 Y0\nK1\nK1\nK1\n"
        "G21\nG06.2 P3 K0 X1 Y0\nK0 X2 Y1\nK0 X3 Y0\nK2\nK2\nK2\n",
        "inch.ngc");
    ASSERT_EQ(c.size(), 2u);
    using row = std::array<double, 4>;
    EXPECT_EQ(rows(c[0].curve),
              (std::vector<row>{{25.4, 0, 0, 1}, {2 * 25.4, 25.4, 0, 0.5}, {3 * 25.4, 0, 0, 1}}));
    EXPECT_EQ(c[0].curve.knots, (std::vector<double>{0, 0, 0, 1, 1, 1})); // knots as written
    EXPECT_EQ(c[0].note, "note: inch.ngc:3: the NURBS curve is programmed in inches (G20): "
                         "coordinates converted to millimetres (x25.4)");
    EXPECT_EQ(rows(c[1].curve), (std::vector<row>{{1, 0, 0, 1}, {2, 1, 0, 1}, {3, 0, 0, 1}}));
    EXPECT_EQ(c[1].note, "");
    EXPECT_EQ(refusal("\xEF\xBB\xBF" + GOOD), "");
    EXPECT_NE(refusal("G20 G0 X1e307\n" + GOOD)
                  .find("prog.ngc:1: X9.9999999999999999e+306 leaves the range of a double in "
                        "millimetres"),
              std::string::npos);
}

// Returns the program gcode_nurbs_write writes for `c` and `job`.
std::string program_of(const curve_def &c, const gcode_job &job) {
    return test_util::written_text([&](std::FILE *f) { return gcode_nurbs_write(f, c, job); });
}

TEST(GcodeNurbs, WrittenProgramsReadBackExactly) {
    // In 3D with knots of its own, values %.17g prints with an exponent, axes that repeat.
    const curve_def spatial{3,
                            3,
                            {{1e-20, 2, 5, 1},
                             {1e-20, -3.0000000000000004e-7, 5, 0.5},
                             {1.2345678901234568e17, -3.0000000000000004e-7, -1, 1},
                             {4, 1, -1, 2.5},
                             {5, 0, 3, 1}},
                            {-2, -2, -2, -2, 0.1, 7, 7, 7, 7}};
    const gcode_job job{{"O7 (TEST)", "(two lines of heading)"}, 10, -1, 100, 900};
    const std::string text = program_of(spatial, job);
    EXPECT_EQ(text.rfind("%\nO7 (TEST)\n(two lines of heading)\nN10 G21 G90 G17\n"
                         "N20 G0 X0.00000000000000000001 Y2 Z10\nN30 G1 Z-1 F100\n"
                         "N40 G06.2 P4 K-2 X0.00000000000000000001 Y2 Z5 F900\n"
                         "N50 K-2 Y-0.00000030000000000000004 R0.5\n",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find("\nN120 K7\nN130 G0 Z10\nN140 M30\n%\n"), std::string::npos) << text;
    const std::vector<gcode_curve> back = read_gcode_nurbs_text(text, "w.ngc");
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].curve.deg, 3u);
    EXPECT_EQ(back[0].curve.dim, 3u);
    EXPECT_EQ(rows(back[0].curve), rows(spatial));
    EXPECT_EQ(back[0].curve.knots, spatial.knots);
    // Planar with clamped uniform knots: the program states them; z is the program's modal Z.
    const curve_def planar{2, 2, {{0, 0, 0, 1}, {1, 2, 0, 0.5}, {2, 0, 0, 1}, {3, 1, 0, 1}}, {}};
    const curve_def flat = read_gcode_nurbs_text(program_of(planar, {}), "p.ngc").at(0).curve;
    EXPECT_EQ(flat.dim, 2u);
    EXPECT_EQ(flat.knots, curve_def_knots(planar));
    for (std::size_t i = 0; i < planar.points.size(); ++i) {
        EXPECT_EQ(flat.points[i].x, planar.points[i].x);
        EXPECT_EQ(flat.points[i].y, planar.points[i].y);
        EXPECT_EQ(flat.points[i].w, planar.points[i].w);
    }
}

} // namespace
