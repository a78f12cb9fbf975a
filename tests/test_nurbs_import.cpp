// nurbs_import and make_part end to end, in a temporary directory: the part outline written as
// G-code and as DXF imports to the same curve, which lies on the plate's design; listing,
// picking, and every way a run can fail leave the user's files as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "io/dxf_spline.hpp"
#include "core/nurbs.hpp"
#include "test_util.hpp"

#ifdef NURBS_HAVE_DXFLIB
#include <dl_creationadapter.h>
#include <dl_dxf.h>
#endif

using namespace test_util;
namespace fs = std::filesystem;

namespace {

const std::string BIN = NURBS_BIN_DIR;

struct tool_run {
    int status;
    std::string out, err;
};

// Runs `cmd` (a program of the build directory and its arguments) in `dir`; its output goes
// to files beside `dir`, so that they are not among the files a test finds in it.
tool_run tool(const temp_dir &dir, const std::string &cmd) {
    const std::string out = dir.path.string() + "/../" + dir.path.filename().string() + ".out";
    const std::string err = out + ".err";
    const int status = run("cd " + dir.path.string() + " && " + BIN + "/" + cmd, out, err);
    tool_run r{status, read_file(out), read_file(err)};
    fs::remove(out);
    fs::remove(err);
    return r;
}

// Returns the names of the files in `dir`, sorted.
std::vector<std::string> names(const temp_dir &dir) {
    std::vector<std::string> n;
    for (const auto &e : fs::directory_iterator(dir.path))
        n.push_back(e.path().filename().string());
    std::sort(n.begin(), n.end());
    return n;
}

// Returns the distance of (x, y) from the plate's designed outline: the edges of the 120 x 80
// rectangle with the slot x 50..70, y 65..80, and the corner quarter circles of radius 10.
double off_design(double x, double y) {
    double best = 1e9;
    const double cx[] = {10, 110, 110, 10}, cy[] = {10, 10, 70, 70};
    for (int c = 0; c < 4; ++c) // inside a corner's quadrant: its arc
        if ((x - cx[c]) * (cx[c] - 60) >= 0 && (y - cy[c]) * (cy[c] - 40) >= 0)
            best = std::min(best, std::fabs(std::hypot(x - cx[c], y - cy[c]) - 10));
    const auto seg = [&](double x0, double y0, double x1, double y1) {
        const double t = std::clamp(((x - x0) * (x1 - x0) + (y - y0) * (y1 - y0)) /
                                        ((x1 - x0) * (x1 - x0) + (y1 - y0) * (y1 - y0)),
                                    0.0, 1.0);
        best = std::min(best, std::hypot(x - x0 - t * (x1 - x0), y - y0 - t * (y1 - y0)));
    };
    seg(10, 0, 110, 0), seg(120, 10, 120, 70), seg(110, 80, 70, 80), seg(70, 80, 70, 65);
    seg(70, 65, 50, 65), seg(50, 65, 50, 80), seg(50, 80, 10, 80), seg(0, 70, 0, 10);
    return best;
}

#ifdef NURBS_HAVE_DXFLIB
// The control points, weights and knots of a drawing's splines as dxflib reads them.
struct dxflib_values : DL_CreationAdapter {
    std::vector<double> values;
    void addControlPoint(const DL_ControlPointData &d) override {
        values.insert(values.end(), {d.x, d.y, d.w});
    }
    void addKnot(const DL_KnotData &d) override { values.push_back(d.k); }
};
#endif

TEST(NurbsImport, PartOutlineFromGcodeAndDxfIsOneCurveOnItsDesign) {
    temp_dir dir;
    ASSERT_EQ(tool(dir, "make_part").status, 0);
    ASSERT_EQ(names(dir), (std::vector<std::string>{"part_outline.dxf", "part_outline.ngc"}));
    ASSERT_EQ(tool(dir, "nurbs_import part_outline.ngc -o g.nurbs").status, 0);
    ASSERT_EQ(tool(dir, "nurbs_import part_outline.dxf -o d.nurbs").status, 0);
    nurbs_curve g, d;
    nurbs_curve_alloc_file(dir.file("g.nurbs").c_str(), &g);
    nurbs_curve_alloc_file(dir.file("d.nurbs").c_str(), &d);
    ASSERT_EQ(g.ncp, 27u);
    ASSERT_EQ(d.ncp, 27u);
    double worst = 0;
    int on_arcs = 0;
    for (int i = 0; i <= 20000; ++i) {
        cart_point pg, pd, tg, td;
        nurbs_deBoor_eval(i / 20000.0, -1, &g, &pg, &tg, nullptr, nullptr);
        nurbs_deBoor_eval(i / 20000.0, -1, &d, &pd, &td, nullptr, nullptr);
        ASSERT_LE(std::hypot(pg.x - pd.x, pg.y - pd.y), 1e-12) << i;
        ASSERT_LE(std::hypot(tg.x - td.x, tg.y - td.y), 1e-12 * std::hypot(tg.x, tg.y)) << i;
        worst = std::max(worst, off_design(pg.x, pg.y));
        on_arcs += (pg.x < 10 || pg.x > 110) && (pg.y < 10 || pg.y > 70);
    }
    EXPECT_LE(worst, 1e-12);
    EXPECT_GT(on_arcs, 400); // the four arcs are traced, not cut short
    // The slot corners are knots of the curve where the tangent turns by 90 degrees.
    const double corner_x[] = {70, 70, 50, 50}, corner_y[] = {80, 65, 65, 80};
    int corners = 0;
    for (std::uint32_t k = g.deg + 1; k + g.deg + 1 < g.nk; ++k) {
        cart_point at, before, ta, tb;
        nurbs_deBoor_eval(g.knots[k], -1, &g, &at, &ta, nullptr, nullptr);
        nurbs_deBoor_eval(g.knots[k] - 1e-9, -1, &g, &before, &tb, nullptr, nullptr);
        for (int j = 0; j < 4; ++j)
            if (std::hypot(at.x - corner_x[j], at.y - corner_y[j]) <= 1e-12) {
                ++corners;
                EXPECT_LE(std::fabs(tb.x * ta.x + tb.y * ta.y),
                          1e-6 * std::hypot(tb.x, tb.y) * std::hypot(ta.x, ta.y));
            }
    }
    EXPECT_EQ(corners, 8); // each corner at both knots of its doubled knot
#ifdef NURBS_HAVE_DXFLIB
    // A DXF library of the field reads the same values from the drawing.
    dxflib_values theirs;
    DL_Dxf dxf;
    ASSERT_TRUE(dxf.in(dir.file("part_outline.dxf"), &theirs));
    const nurbs_interp::curve_def c =
        nurbs_interp::read_dxf_splines(dir.file("part_outline.dxf")).at(0).curve;
    std::vector<double> ours;
    for (const nurbs_ctrl_pt &p : c.points)
        ours.insert(ours.end(), {p.x, p.y, p.w});
    ours.insert(ours.end(), c.knots.begin(), c.knots.end());
    EXPECT_EQ(theirs.values, ours);
#endif
}

const char *const TWO_CURVES = "(two curves)\nG06.2 P3 K0 X0 Y0\nK0 X1 Y1\nK0 X2 Y0\nK1\nK1\nK1\n"
                               "G1 X5\nG6.2 K0 X0 Y0 Z1\nK0 X1\nK0 Y1\nK0 X2\nK2\nK2\nK2\nK2\n";

TEST(NurbsImport, ListsAndPicksCurves) {
    temp_dir dir;
    write_file(dir.file("two.nc"), TWO_CURVES);
    const tool_run l = tool(dir, "nurbs_import --list two.nc");
    EXPECT_EQ(l.status, 0);
    EXPECT_EQ(l.out, "0\tG06.2 NURBS\tdegree 2\t3 points\t2D\tknots 0 .. 1\tline 2\n"
                     "1\tG06.2 NURBS\tdegree 3\t4 points\t3D\tknots 0 .. 2\tline 9\n");
    EXPECT_EQ(names(dir), (std::vector<std::string>{"two.nc"}));
    EXPECT_EQ(tool(dir, "nurbs_import --index 1 two.nc").status, 0);
    nurbs_curve c;
    nurbs_curve_alloc_file(dir.file("two.nurbs").c_str(), &c);
    EXPECT_EQ(c.ncp, 4u);
    EXPECT_EQ(c.deg, 3u);
    EXPECT_EQ(c.control_points[3].z, 1); // Z kept from the first block
    const tool_run out = tool(dir, "nurbs_import --index 2 -o x.nurbs two.nc");
    EXPECT_EQ(out.status, 1);
    EXPECT_EQ(out.err, "nurbs_import: two.nc holds 2 curves; --index 2 is outside 0..1\n");
    // A drawing named as no known format is recognised by its content; --format overrides.
    ASSERT_EQ(tool(dir, "make_part --gcode p.ngc --dxf drawing.txt").status, 0);
    const tool_run d = tool(dir, "nurbs_import --list drawing.txt");
    EXPECT_NE(d.out.find("0\tDXF SPLINE\tdegree 2\t27 points\t2D\tknots 0 .. 412.83185307179588"
                         "\tSPLINE 1 (handle 2F)"),
              std::string::npos)
        << d.out << d.err;
    const tool_run f = tool(dir, "nurbs_import --format gcode --list drawing.txt");
    EXPECT_EQ(f.status, 1);
    EXPECT_EQ(f.err.rfind("nurbs_import: drawing.txt:1: ", 0), 0u) << f.err;
}

// Returns a drawing of one SPLINE of degree 2 (no handle) with the knots `knots` as written and
// the planar control points whose x and y follow each other in `xy`.
std::string spline_dxf(const std::vector<std::string> &knots, const std::vector<int> &xy) {
    std::string t = "  0\nSECTION\n  2\nENTITIES\n  0\nSPLINE\n 71\n2\n";
    for (const std::string &k : knots)
        t += " 40\n" + k + "\n";
    for (std::size_t i = 0; i + 1 < xy.size(); i += 2)
        t += " 10\n" + std::to_string(xy[i]) + "\n 20\n" + std::to_string(xy[i + 1]) + "\n";
    return t + "  0\nENDSEC\n  0\nEOF\n";
}

TEST(NurbsImport, FailuresLeaveTheUsersFilesAsTheyWere) {
    temp_dir dir;
    write_file(dir.file("bad.ngc"), "G06.2 P3 K0 X0 Y0\nK0 X1 Y1 R-2\n");
    write_file(dir.file("old.nurbs"), "old content");
    for (const char *cmd : {"nurbs_import bad.ngc", "nurbs_import -o old.nurbs bad.ngc"}) {
        const tool_run r = tool(dir, cmd);
        EXPECT_EQ(r.status, 1) << cmd;
        EXPECT_EQ(r.err, "nurbs_import: bad.ngc:2: weight R-2 is not positive\n") << cmd;
    }
    for (const char *in : {"missing.ngc", "missing.dxf", "."}) {
        const tool_run r = tool(dir, std::string("nurbs_import ") + in);
        EXPECT_EQ(r.status, 1) << in;
        EXPECT_EQ(r.err.rfind(std::string("nurbs_import: ") + in +
                                  (in[0] == '.' ? ": is a directory" : ": cannot open the "),
                              0),
                  0u)
            << r.err;
    }
    // A curve the checks take but the loader refuses (its interior knots 0, 1, 2 become one
    // value once mapped onto [0, 1] over a range of 2e300): the written file is loaded back
    // before it is put in place. Knots whose range overflows (-1e308 .. 1e308) are refused by
    // the importer's own check, which says so.
    const struct {
        const char *file;
        std::string drawing, message;
    } refused[] = {
        {"huge.dxf",
         spline_dxf({"-1e300", "-1e300", "-1e300", "0", "1", "2", "1e300", "1e300", "1e300"},
                    {0, 0, 1, 1, 2, 0, 3, 0, 4, 1, 5, 0}),
         "the curve file written for old.nurbs does not load back (nothing written): old.nurbs:"},
        {"range.dxf",
         spline_dxf({"-1e308", "-1e308", "-1e308", "0", "1e308", "1e308", "1e308"},
                    {0, 0, 1, 1, 2, 0, 3, 0}),
         "range.dxf: SPLINE 1 (line 5): the knot range (last - first: 1e+308 - -1e+308) is not "
         "finite"},
    };
    for (const auto &r : refused) {
        write_file(dir.file(r.file), r.drawing);
        const tool_run h = tool(dir, std::string("nurbs_import -o old.nurbs ") + r.file);
        EXPECT_EQ(h.status, 1) << r.file;
        EXPECT_NE(h.err.find(r.message), std::string::npos) << h.err;
    }
    // The output may not be the input.
    write_file(dir.file("in.ngc"), TWO_CURVES);
    const tool_run o = tool(dir, "nurbs_import -o ./in.ngc in.ngc");
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("-o"), std::string::npos) << o.err;
    EXPECT_EQ(read_file(dir.file("in.ngc")), TWO_CURVES);
    EXPECT_EQ(read_file(dir.file("old.nurbs")), "old content");
    EXPECT_EQ(names(dir), (std::vector<std::string>{"bad.ngc", "huge.dxf", "in.ngc", "old.nurbs",
                                                    "range.dxf"}));
}

TEST(NurbsImport, UsageErrorsExitTwo) {
    temp_dir dir;
    write_file(dir.file("in.ngc"), TWO_CURVES);
    for (const char *cmd :
         {"nurbs_import", "nurbs_import --bogus in.ngc", "nurbs_import --format xml in.ngc",
          "nurbs_import --list -o x.nurbs in.ngc", "nurbs_import --index -1 in.ngc",
          "make_part --bogus"}) {
        const tool_run r = tool(dir, cmd);
        EXPECT_EQ(r.status, 2) << cmd << ": " << r.err;
        EXPECT_NE(r.err.find("(see --help)"), std::string::npos) << cmd << ": " << r.err;
    }
    const tool_run same = tool(dir, "make_part --gcode a.x --dxf ./a.x");
    EXPECT_EQ(same.status, 1);
    EXPECT_EQ(names(dir), (std::vector<std::string>{"in.ngc"}));
    const tool_run h = tool(dir, "nurbs_import --help");
    EXPECT_EQ(h.status, 0);
    for (const char *s : {"G06.2", "DXF", ".ngc", "--index", "--format", "Refused", "Exit status"})
        EXPECT_NE(h.out.find(s), std::string::npos) << s;
}

TEST(NurbsImport, APipedInputIsReadOnceAndWhole) {
    temp_dir dir;
    write_file(dir.file("two.nc"), TWO_CURVES);
    ASSERT_EQ(tool(dir, "make_part").status, 0);
    // cat FILE | nurbs_import ARGS /dev/stdin: a pipe, as <(cat FILE) gives one; no extension,
    // so the format comes from the content.
    const auto through_pipe = [&](const std::string &file, const std::string &args) {
        const std::string out = dir.file("../" + dir.path.filename().string() + ".pout");
        const int status = run("cd " + dir.path.string() + " && cat " + file + " | " + BIN +
                                   "/nurbs_import " + args + " /dev/stdin",
                               out, out + ".err");
        tool_run r{status, read_file(out), read_file(out + ".err")};
        fs::remove(out);
        fs::remove(out + ".err");
        return r;
    };
    const tool_run l = through_pipe("two.nc", "--list");
    EXPECT_EQ(l.status, 0) << l.err;
    EXPECT_EQ(l.out, "0\tG06.2 NURBS\tdegree 2\t3 points\t2D\tknots 0 .. 1\tline 2\n"
                     "1\tG06.2 NURBS\tdegree 3\t4 points\t3D\tknots 0 .. 2\tline 9\n");
    ASSERT_EQ(through_pipe("two.nc", "--index 1 -o piped.nurbs").status, 0);
    ASSERT_EQ(tool(dir, "nurbs_import --index 1 -o file.nurbs two.nc").status, 0);
    EXPECT_EQ(read_file(dir.file("piped.nurbs")), read_file(dir.file("file.nurbs")));
    const tool_run d = through_pipe("part_outline.dxf", "--list");
    EXPECT_EQ(d.status, 0) << d.err;
    EXPECT_EQ(d.out.find("0\tDXF SPLINE\tdegree 2\t27 points"), 0u) << d.out;
}

TEST(NurbsImport, UnitsAreNotedAndTheBoundIsNamedInControlPoints) {
    temp_dir dir;
    write_file(dir.file("inch.ngc"), "\xEF\xBB\xBFG20\n" + std::string(TWO_CURVES));
    const tool_run r = tool(dir, "nurbs_import --index 1 -o inch.nurbs inch.ngc");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "nurbs_import: note: inch.ngc:10: the NURBS curve is programmed in inches "
                     "(G20): coordinates converted to millimetres (x25.4)\n");
    nurbs_curve c;
    nurbs_curve_alloc_file(dir.file("inch.nurbs").c_str(), &c);
    EXPECT_EQ(c.control_points[1].x, 25.4); // X1 in inches; weight 1, so homogeneous x is x
    EXPECT_EQ(c.control_points[3].x, 2 * 25.4);
    EXPECT_EQ(c.control_points[3].z, 25.4);
    write_file(dir.file("big.dxf"),
               "  0\nSECTION\n  2\nENTITIES\n  0\nSPLINE\n 71\n2\n 73\n4000001\n"
               "  0\nENDSEC\n  0\nEOF\n");
    const auto t0 = std::chrono::steady_clock::now();
    const tool_run big = tool(dir, "nurbs_import big.dxf");
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 2.0);
    EXPECT_EQ(big.status, 1);
    EXPECT_EQ(big.err, "nurbs_import: big.dxf: SPLINE 1 (line 5): group 73 declares 4000001 "
                       "control points: an import takes at most 4000000 control points per file "
                       "(the most that a curve file written by it can load)\n");
    const tool_run h = tool(dir, "nurbs_import --help");
    for (const char *s : {"4000000 control points", "G20", "$INSUNITS", "byte-order mark",
                          "exponent", "hard link", "FIFO"})
        EXPECT_NE(h.out.find(s), std::string::npos) << s;
    EXPECT_EQ(h.out.find("10^7"), std::string::npos);
    EXPECT_EQ(names(dir), (std::vector<std::string>{"big.dxf", "inch.ngc", "inch.nurbs"}));
}

} // namespace
