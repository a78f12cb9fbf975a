// The DXF reader: hand-written drawings give exactly the values written; splines the curve file
// cannot hold, and files that are not drawings, are refused with a message naming the file and the
// entity. The writer: what it writes reads back exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "io/dxf_spline.hpp"
#include "io/format.hpp"
#include "test_util.hpp" // written_text

using namespace nurbs_interp;

namespace {

using group_list = std::vector<std::pair<int, std::string>>;

// Returns `x` printed so that it reads back exactly.
std::string real(double x) {
    return fmt("%.17g", x);
}

// Returns the groups as DXF text: the code right-aligned in three columns, then the value.
std::string text_of(const group_list &g, const std::string &eol = "\n") {
    std::string t;
    for (const auto &[code, value] : g) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%3d", code);
        t += buf + eol + value + eol;
    }
    return t;
}

// Returns the groups of a SPLINE (no handle when `handle` is empty; weights when rational).
group_list spline(const std::string &handle, int flags, int deg, const std::vector<double> &knots,
                  const std::vector<nurbs_ctrl_pt> &pts) {
    group_list g = {{0, "SPLINE"}};
    if (!handle.empty()) g.push_back({5, handle});
    g.insert(g.end(), {{100, "AcDbEntity"},
                       {8, "0"},
                       {100, "AcDbSpline"},
                       {70, std::to_string(flags)},
                       {71, std::to_string(deg)},
                       {72, std::to_string(knots.size())},
                       {73, std::to_string(pts.size())},
                       {74, "0"}});
    for (double k : knots)
        g.push_back({40, real(k)});
    for (const nurbs_ctrl_pt &p : pts) {
        g.insert(g.end(), {{10, real(p.x)}, {20, real(p.y)}, {30, real(p.z)}});
        if (flags & 4) g.push_back({41, real(p.w)});
    }
    return g;
}

// Returns a drawing: a header, the groups `entities` in the ENTITIES section, EOF.
group_list drawing(const group_list &entities, const group_list &blocks = {}) {
    group_list g = {{999, "hand-written"}, {0, "SECTION"}, {2, "HEADER"},
                    {9, "$ACADVER"},       {1, "AC1015"},  {0, "ENDSEC"}};
    if (!blocks.empty()) {
        g.insert(g.end(), {{0, "SECTION"}, {2, "BLOCKS"}, {0, "BLOCK"}, {2, "B1"}});
        g.insert(g.end(), blocks.begin(), blocks.end());
        g.insert(g.end(), {{0, "ENDBLK"}, {0, "ENDSEC"}});
    }
    g.insert(g.end(), {{0, "SECTION"}, {2, "ENTITIES"}});
    g.insert(g.end(), entities.begin(), entities.end());
    g.insert(g.end(), {{0, "ENDSEC"}, {0, "EOF"}});
    return g;
}

const double H = std::sqrt(2.0) / 2;
// The quarter circle of radius 10 about the origin, from (10, 0) to (0, 10).
const std::vector<double> ARC_KNOTS = {0, 0, 0, 1, 1, 1};
const std::vector<nurbs_ctrl_pt> ARC = {{10, 0, 0, 1}, {10, 10, 0, H}, {0, 10, 0, 1}};
// A cubic leaving the plane.
const std::vector<double> CUBIC_KNOTS = {-1, -1, -1, -1, 0.25, 2, 2, 2, 2};
const std::vector<nurbs_ctrl_pt> CUBIC = {
    {0, 0, 0, 1}, {1, 2, 0.5, 1}, {2, -1, 1e-300, 1}, {3.5, 0.1, -7, 1}, {4, 4, 0, 1}};

// The hand-written drawing: a LINE, the rational arc (handle 2F), the cubic (no handle), and a
// SPLINE inside a block definition (not part of the drawing's geometry).
group_list sample() {
    group_list e = {{0, "LINE"}, {5, "2E"}, {8, "0"}, {10, "0"}, {20, "0"}, {11, "1"}, {21, "1"}};
    group_list arc = spline("2F", 8 + 4, 2, ARC_KNOTS, ARC);
    arc[16].second = "1.0E+01"; // the first x, 10, with an exponent
    arc[23].second = " 0.70710678118654757 ";
    const group_list cubic = spline("", 8, 3, CUBIC_KNOTS, CUBIC);
    e.insert(e.end(), arc.begin(), arc.end());
    e.insert(e.end(), cubic.begin(), cubic.end());
    return drawing(e, spline("3A", 8, 2, ARC_KNOTS, ARC));
}

// Expects `c` to hold exactly the degree, dimension, knots and control points given.
void expect_curve(const curve_def &c, unsigned deg, unsigned dim, const std::vector<double> &knots,
                  const std::vector<nurbs_ctrl_pt> &pts) {
    EXPECT_EQ(c.deg, deg);
    EXPECT_EQ(c.dim, dim);
    EXPECT_EQ(c.knots, knots);
    std::vector<std::array<double, 4>> got, want;
    for (std::size_t i = 0; i < c.points.size() || i < pts.size(); ++i) {
        if (i < c.points.size())
            got.push_back({c.points[i].x, c.points[i].y, c.points[i].z, c.points[i].w});
        if (i < pts.size()) want.push_back({pts[i].x, pts[i].y, pts[i].z, pts[i].w});
    }
    EXPECT_EQ(got, want);
}

TEST(DxfSpline, HandWrittenDrawingGivesTheWrittenValues) {
    for (const std::string eol : {"\n", "\r\n"}) {
        const std::string text = text_of(sample(), eol);
        const std::vector<dxf_curve> c = read_dxf_splines_text(text, "drawing.dxf");
        ASSERT_EQ(c.size(), 2u);
        EXPECT_EQ(c[0].entity, "SPLINE 1 (handle 2F)");
        expect_curve(c[0].curve, 2, 2, ARC_KNOTS, ARC);
        // The cubic has no handle: named by the line of its "0 / SPLINE".
        const std::size_t at = text.find("SPLINE" + eol, text.find("2F" + eol));
        const std::size_t line = std::count(text.begin(), text.begin() + at, '\n');
        EXPECT_EQ(c[1].entity, "SPLINE 2 (line " + std::to_string(line) + ")");
        expect_curve(c[1].curve, 3, 3, CUBIC_KNOTS, CUBIC);
    }
}

// Returns the message read_dxf_splines_text throws for the drawing `text` ("" when it reads
// it); the drawing is named `name`.
std::string refusal(const std::string &text, const std::string &name = "drawing.dxf") {
    try {
        read_dxf_splines_text(text, name);
    } catch (const import_error &e) {
        return e.what();
    }
    return "";
}

// Returns `g` with the value of its first group `code` replaced (or the group removed).
group_list with(group_list g, int code, const char *value) {
    for (auto it = g.begin(); it != g.end(); ++it)
        if (it->first == code) {
            if (value)
                it->second = value;
            else
                g.erase(it);
            break;
        }
    return g;
}

TEST(DxfSpline, SplinesTheCurveFileCannotHoldAreRefusedNamingTheEntity) {
    const group_list arc = spline("2A", 12, 2, ARC_KNOTS, ARC);
    const group_list fit_only = {{0, "SPLINE"}, {5, "2B"}, {70, "8"}, {71, "3"}, {74, "3"},
                                 {11, "0"},     {21, "0"}, {11, "1"}, {21, "2"}, {11, "3"},
                                 {21, "1"},     {12, "1"}, {22, "0"}};
    group_list arc_then_fit = arc;
    arc_then_fit.insert(arc_then_fit.end(), fit_only.begin(), fit_only.end());
    group_list no_y = arc;
    no_y.erase(no_y.begin() + 21); // the 20 of the second control point
    group_list two_weights = arc;
    two_weights.erase(two_weights.begin() + 23); // the 41 of the second control point
    const struct {
        group_list entities;
        std::string message;
    } cases[] = {
        {fit_only, "SPLINE 1 (handle 2B): given by fit points only"},
        // dxflib would hand this one the knots and control points of the arc before it.
        {arc_then_fit, "SPLINE 2 (handle 2B): given by fit points only"},
        {spline("2A", 8, 2, {0, 1, 2, 3, 4, 5}, ARC),
         "SPLINE 1 (handle 2A): the first 3 knots must be equal (a clamped start)"},
        {spline("2A", 12, 2, ARC_KNOTS, {{10, 0, 0, 1}, {10, 10, 0, 0}, {0, 10, 0, 1}}),
         "SPLINE 1 (handle 2A): control point 2 has a weight that is not positive"},
        {with(arc, 72, "7"), "group 72 declares 7 knots but the entity gives 6"},
        {with(arc, 73, "4"), "group 73 declares 4 control points but the entity gives 3"},
        {spline("2A", 12, 2, {0, 0, 0, 0.5, 1, 1, 1}, ARC),
         "SPLINE 1 (handle 2A): 7 knots for 3 control points of degree 2; it takes 6"},
        {with(arc, 71, "1"), "SPLINE 1 (handle 2A): degree 1 is outside 2..25"},
        {with(arc, 71, nullptr), "SPLINE 1 (handle 2A): no degree (group 71)"},
        {with(arc, 10, "abc"), "SPLINE 1 (handle 2A): group 10 value \"abc\" (line 50) is not"},
        {with(arc, 40, "nan"), "group 40 value \"nan\" (line 38) is not a finite number"},
        {with(arc, 73, "-3"), "group 73 value \"-3\" (line 34) is outside 0.."},
        {with(arc, 72, "2000000000"), "group 72 value \"2000000000\" (line 32) is outside 0.."},
        {no_y, "SPLINE 1 (handle 2A): control point 2 has no y (20)"},
        {two_weights, "SPLINE 1 (handle 2A): 2 weights (41) for 3 control points"},
        {with(arc, 70, "8"), "weights (41) other than 1 on a spline not flagged rational"},
        {with(with(arc, 5, nullptr), 71, "1"), "drawing.dxf: SPLINE 1 (line 17): degree 1"},
    };
    for (const auto &c : cases) {
        const std::string msg = refusal(text_of(drawing(c.entities)));
        EXPECT_EQ(msg.rfind("drawing.dxf: SPLINE ", 0), 0u) << msg;
        EXPECT_NE(msg.find(c.message), std::string::npos) << c.message << "\n -> " << msg;
    }
    EXPECT_EQ(refusal(text_of(drawing(arc))), "");
}

TEST(DxfSpline, FilesThatAreNotDrawingsAreNamed) {
    const group_list arc = spline("2A", 12, 2, ARC_KNOTS, ARC);
    const std::string good = text_of(drawing(arc));
    const group_list lines = {{0, "LINE"}, {10, "0"}, {20, "0"}, {11, "1"}, {21, "1"}};
    const struct {
        std::string text, message;
    } cases[] = {
        {"", "drawing.dxf: empty file, not a DXF drawing"},
        {"G1 X0 Y0\n", "drawing.dxf: not a DXF drawing"},
        {std::string("AutoCAD Binary DXF\r\n\x1a\0", 22), "drawing.dxf: a binary DXF drawing"},
        {text_of(drawing(lines)), "drawing.dxf: the drawing holds no SPLINE entity"},
        {text_of(drawing(lines, arc)), "(1 in block definitions, which are not read)"},
        {good.substr(0, good.size() - 8), "drawing.dxf:74: the drawing ends without its EOF"},
        {good.substr(0, good.find(" 41\n")), "drawing.dxf:54: SPLINE 1 (handle 2A): the "
                                             "drawing ends inside the entity"},
        {good.substr(0, good.find("SPLINE\n")), "drawing.dxf:17: group code 0 has no value"},
        {"  0\nSECTION\n x1\nENTITIES\n", "drawing.dxf:3: \"x1\" is not a group code"},
        {"  0\nSECTION\n999\n" + std::string(70000, 'c') + "\n", "drawing.dxf:4: line longer"},
    };
    for (const auto &c : cases) {
        const std::string msg = refusal(c.text);
        EXPECT_NE(msg.find(c.message), std::string::npos) << c.message << "\n -> " << msg;
    }
    EXPECT_TRUE(dxf_signature("  0\r\nSECTION\r\n  2\r\nHEADER"));
    EXPECT_TRUE(dxf_signature("999\nwritten by hand\n"));
    EXPECT_FALSE(dxf_signature("G1 X0 Y0\n"));
    EXPECT_FALSE(dxf_signature("0\nLINE\n"));
}

// Returns the drawing `g` (as drawing() makes it) with "$INSUNITS" set to `code` in its header.
group_list with_units(group_list g, const char *code) {
    g.insert(g.begin() + 3, {{9, "$INSUNITS"}, {70, code}});
    return g;
}

TEST(DxfSpline, HeaderUnitsAreConvertedToMillimetresOrNamed) {
    const group_list arc = spline("2A", 12, 2, ARC_KNOTS, ARC);
    // Inches: the coordinates times 25.4, knots and weights as written, and a note.
    std::vector<nurbs_ctrl_pt> inch = ARC;
    for (nurbs_ctrl_pt &p : inch)
        p.x *= 25.4, p.y *= 25.4;
    const std::vector<dxf_curve> in =
        read_dxf_splines_text(text_of(with_units(drawing(arc), "1")), "d.dxf");
    ASSERT_EQ(in.size(), 1u);
    expect_curve(in[0].curve, 2, 2, ARC_KNOTS, inch);
    EXPECT_EQ(in[0].note,
              "note: d.dxf: $INSUNITS 1 (inches): coordinates converted to millimetres (x25.4)");
    std::vector<nurbs_ctrl_pt> metres = ARC;
    for (nurbs_ctrl_pt &p : metres)
        p.x *= 1000, p.y *= 1000;
    expect_curve(read_dxf_splines_text(text_of(with_units(drawing(arc), "6")), "d.dxf")[0].curve, 2,
                 2, ARC_KNOTS, metres);
    // Millimetres, or no $INSUNITS: as written, no note.
    for (const group_list &mm : {with_units(drawing(arc), "4"), drawing(arc)}) {
        const dxf_curve c = read_dxf_splines_text(text_of(mm), "d.dxf").at(0);
        expect_curve(c.curve, 2, 2, ARC_KNOTS, ARC);
        EXPECT_EQ(c.note, "");
    }
    // Unitless and unknown codes: as written, with a warning naming the code.
    for (const char *code : {"0", "99", "x"}) {
        const dxf_curve c =
            read_dxf_splines_text(text_of(with_units(drawing(arc), code)), "d.dxf").at(0);
        expect_curve(c.curve, 2, 2, ARC_KNOTS, ARC);
        EXPECT_EQ(c.note.rfind(std::string("warning: d.dxf: $INSUNITS ") + code + " (", 0), 0u)
            << c.note;
        EXPECT_NE(c.note.find("taken as millimetres"), std::string::npos) << c.note;
    }
    // A coordinate that overflows once converted is refused, naming the entity.
    const group_list far =
        spline("2A", 12, 2, ARC_KNOTS, {{1e308, 0, 0, 1}, {1, 1, 0, H}, {0, 1, 0, 1}});
    EXPECT_NE(refusal(text_of(with_units(drawing(far), "1")), "d.dxf")
                  .find("d.dxf: SPLINE 1 (handle 2A): $INSUNITS 1 (inches): a coordinate leaves"),
              std::string::npos);
}

TEST(DxfSpline, AByteOrderMarkIsSkippedAndTheImportBoundIsCheckedWhenDeclared) {
    const group_list arc = spline("2A", 12, 2, ARC_KNOTS, ARC);
    const std::string bom = "\xEF\xBB\xBF";
    const std::vector<dxf_curve> c = read_dxf_splines_text(bom + text_of(drawing(arc)), "d.dxf");
    ASSERT_EQ(c.size(), 1u);
    expect_curve(c[0].curve, 2, 2, ARC_KNOTS, ARC);
    EXPECT_TRUE(dxf_signature(bom + "  0\nSECTION\n"));
    // Group 73 beyond the bound is refused as soon as it is read, naming the bound.
    const std::string msg = refusal(text_of(drawing(with(arc, 73, "4000001"))));
    EXPECT_NE(msg.find("SPLINE 1 (handle 2A): group 73 declares 4000001 control points: an "
                       "import takes at most 4000000 control points per file"),
              std::string::npos)
        << msg;
    EXPECT_NE(refusal(text_of(drawing(with(arc, 73, "4000000"))))
                  .find("group 73 declares 4000000 control points but the entity gives 3"),
              std::string::npos);
}

// Returns the drawing dxf_spline_write writes for `c` and `d`.
std::string drawing_of(const curve_def &c, const dxf_drawing &d) {
    return test_util::written_text([&](std::FILE *f) { return dxf_spline_write(f, c, d); });
}

TEST(DxfSpline, WrittenDrawingsReadBackExactly) {
    // The cubic leaving the plane: rational only (flag 4), its groups as a drawing states them.
    const curve_def cubic{3, 3, CUBIC, CUBIC_KNOTS};
    const std::string text = drawing_of(cubic, {"a test", "PATHS", "A1"});
    EXPECT_EQ(
        text.rfind(
            text_of({{999, "a test"},     {0, "SECTION"},   {2, "HEADER"},       {9, "$ACADVER"},
                     {1, "AC1015"},       {9, "$INSUNITS"}, {70, "4"},           {0, "ENDSEC"},
                     {0, "SECTION"},      {2, "ENTITIES"},  {0, "SPLINE"},       {5, "A1"},
                     {100, "AcDbEntity"}, {8, "PATHS"},     {100, "AcDbSpline"}, {210, "0.0"},
                     {220, "0.0"},        {230, "1.0"},     {70, "4"},           {71, "3"},
                     {72, "9"},           {73, "5"}}),
            0),
        0u)
        << text;
    const std::vector<dxf_curve> back = read_dxf_splines_text(text, "w.dxf");
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].entity, "SPLINE 1 (handle A1)");
    expect_curve(back[0].curve, 3, 3, CUBIC_KNOTS, CUBIC);
    // A planar curve with clamped uniform knots: planar and rational (12), the knots stated,
    // no comment group when there is no comment; z is 0 whatever the definition holds.
    std::vector<nurbs_ctrl_pt> arc = ARC;
    arc[1].z = 5;
    const std::string flat = drawing_of({2, 2, arc, {}}, {});
    EXPECT_EQ(flat.rfind(text_of({{0, "SECTION"}}), 0), 0u) << flat;
    EXPECT_NE(flat.find(text_of({{70, "12"}})), std::string::npos) << flat;
    expect_curve(read_dxf_splines_text(flat, "f.dxf").at(0).curve, 2, 2, ARC_KNOTS, ARC);
}

} // namespace
