// make_part: writes the outline of a machined plate as one clamped rational NURBS curve of
// degree 2, twice: as a G-code program with a G06.2 block sequence and as a DXF drawing with a
// single SPLINE entity, both printed so that importing either gives the same curve exactly.
//
// The plate, in mm, in the XY plane, traced counter-clockwise from the middle of its bottom
// edge (60, 0), where the curve starts and ends:
//
//     (0,80) +--------------+    +--------------+ (120,80)      corners: quarter circles of
//            |     (50,80)  |    |  (70,80)     |                radius 10 about (110,10),
//            |              +----+              |                (110,70), (10,70), (10,10)
//            |       (50,65)      (70,65)       |              slot: 20 wide, 15 deep, sharp
//            |                                  |                corners
//     (0,0)  +----------------*-----------------+ (120,0)      * start and end (60, 0)
//
// Each straight edge is one degree-2 piece with its middle control point half-way along the
// edge (weight 1), so it is traced at constant speed. Each corner is an exact quarter circle:
// the control points are the arc's ends and the meeting point of its end tangents, the middle
// one with weight sqrt(2)/2. Pieces meet at doubled knots (multiplicity 2 = degree): the curve
// interpolates the joint, tangent-continuous where an edge meets an arc and with a real corner
// (the tangent jumps) at the four slot corners. The knots are the arc length at each joint
// (edges exact, arcs 5*pi), so the parameter runs over [0, 412.83...] about as the length does.
#include <cmath>
#include <cstdio>
#include <cstdlib> // strtod
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "io/atomic_file.hpp"
#include "io/curve_file.hpp"
#include "io/format.hpp"
#include "common/tool_cli.hpp"

using namespace nurbs_interp;

namespace {

constexpr double CORNER_RADIUS = 10;

// The curve and where its last piece ended.
struct outline {
    curve_def curve;
    std::vector<double> joints; // arc length at the end of each piece
    double length = 0;
};

// Returns the last control point of the outline (its current end).
const nurbs_ctrl_pt &end_of(const outline &o) {
    return o.curve.points.back();
}

// Appends a piece ending at `to` with middle control point `mid` of weight `w`, `len` long.
void add_piece(outline &o, nurbs_ctrl_pt mid, double w, nurbs_ctrl_pt to, double len) {
    mid.w = w;
    to.w = 1;
    o.curve.points.push_back(mid);
    o.curve.points.push_back(to);
    o.length += len;
    o.joints.push_back(o.length);
}

// Appends a straight edge to (x, y): its middle control point half-way along it.
void add_line(outline &o, double x, double y) {
    const nurbs_ctrl_pt &a = end_of(o);
    const double len = std::hypot(x - a.x, y - a.y);
    add_piece(o, {(a.x + x) / 2, (a.y + y) / 2, 0, 1}, 1, {x, y, 0, 1}, len);
}

// Appends a quarter circle of CORNER_RADIUS to (x, y) whose end tangents meet at (cx, cy).
void add_arc(outline &o, double cx, double cy, double x, double y) {
    add_piece(o, {cx, cy, 0, 1}, std::sqrt(2.0) / 2, {x, y, 0, 1},
              std::numbers::pi * CORNER_RADIUS / 2);
}

// Returns the plate outline drawn at the top of this file; the knots are doubled at every
// joint and tripled at both ends.
outline plate_outline() {
    outline o;
    o.curve.deg = 2;
    o.curve.dim = 2;
    o.curve.points.push_back({60, 0, 0, 1});
    add_line(o, 110, 0);
    add_arc(o, 120, 0, 120, 10);
    add_line(o, 120, 70);
    add_arc(o, 120, 80, 110, 80);
    add_line(o, 70, 80);
    add_line(o, 70, 65); // the slot, sharp corners
    add_line(o, 50, 65);
    add_line(o, 50, 80);
    add_line(o, 10, 80);
    add_arc(o, 0, 80, 0, 70);
    add_line(o, 0, 10);
    add_arc(o, 0, 0, 10, 0);
    add_line(o, 60, 0);
    std::vector<double> &k = o.curve.knots;
    k = {0, 0, 0};
    for (std::size_t i = 0; i + 1 < o.joints.size(); ++i)
        k.insert(k.end(), 2, o.joints[i]);
    k.insert(k.end(), 3, o.length);
    return o;
}

// Returns `x` as a G-code number that reads back to the same double: %.17g, or fixed-point
// digits where %.17g would use an exponent (G-code numbers have none).
std::string gcode_number(double x) {
    std::string s = fmt("%.17g", x);
    if (s.find_first_of("eE") == std::string::npos) return s;
    for (int digits = 17; digits < 400; ++digits) {
        char buf[512];
        std::snprintf(buf, sizeof buf, "%.*f", digits, x);
        if (std::strtod(buf, nullptr) == x) return buf;
    }
    return s;
}

// Writes the program: set-up, plunge, the G06.2 sequence (unchanged axes and weights of 1
// left out, as a post-processor writes them), retract.
void write_gcode(std::FILE *f, const outline &o) {
    const curve_def &c = o.curve;
    std::fprintf(f, "%%\nO1001 (PART OUTLINE: PLATE 120 X 80, CORNERS R10, SLOT 20 X 15)\n");
    std::fprintf(f, "(written by make_part: one degree-2 rational NURBS, rank 3)\n");
    std::fprintf(f, "N10 G21 G90 G17\nN20 G0 X60 Y0 Z5\nN30 G1 Z-2 F200\n");
    unsigned n = 40;
    for (std::size_t i = 0; i < c.points.size(); ++i, n += 10) {
        const nurbs_ctrl_pt &p = c.points[i];
        std::string block = "N" + std::to_string(n) + (i == 0 ? " G06.2 P3" : "");
        block += " K" + gcode_number(c.knots[i]);
        if (i == 0 || p.x != c.points[i - 1].x) block += " X" + gcode_number(p.x);
        if (i == 0 || p.y != c.points[i - 1].y) block += " Y" + gcode_number(p.y);
        if (p.w != 1) block += " R" + gcode_number(p.w);
        if (i == 0) block += " F600";
        std::fprintf(f, "%s\n", block.c_str());
    }
    for (std::size_t i = c.points.size(); i < c.knots.size(); ++i, n += 10)
        std::fprintf(f, "N%u K%s\n", n, gcode_number(c.knots[i]).c_str());
    std::fprintf(f, "N%u G0 Z5\nN%u M30\n%%\n", n, n + 10);
}

// Writes one DXF group: the code right-aligned in three columns, then the value.
void group(std::FILE *f, int code, const std::string &value) {
    std::fprintf(f, "%3d\n%s\n", code, value.c_str());
}

// Writes the drawing: a header (AutoCAD 2000 format, millimetres) and the outline as one
// SPLINE (planar and rational, flags 8 + 4) on layer OUTLINE, reals printed with %.17g.
void write_dxf(std::FILE *f, const outline &o) {
    const curve_def &c = o.curve;
    const auto real = [](double x) { return fmt("%.17g", x); };
    group(f, 999,
          "part outline written by make_part: plate 120 x 80 mm, corners R10, slot 20 x 15");
    group(f, 0, "SECTION");
    group(f, 2, "HEADER");
    group(f, 9, "$ACADVER");
    group(f, 1, "AC1015");
    group(f, 9, "$INSUNITS");
    group(f, 70, "4");
    group(f, 0, "ENDSEC");
    group(f, 0, "SECTION");
    group(f, 2, "ENTITIES");
    group(f, 0, "SPLINE");
    group(f, 5, "2F");
    group(f, 100, "AcDbEntity");
    group(f, 8, "OUTLINE");
    group(f, 100, "AcDbSpline");
    group(f, 210, "0.0");
    group(f, 220, "0.0");
    group(f, 230, "1.0");
    group(f, 70, "12");
    group(f, 71, std::to_string(c.deg));
    group(f, 72, std::to_string(c.knots.size()));
    group(f, 73, std::to_string(c.points.size()));
    group(f, 74, "0");
    group(f, 42, "1e-10");
    group(f, 43, "1e-10");
    for (double k : c.knots)
        group(f, 40, real(k));
    for (const nurbs_ctrl_pt &p : c.points) {
        group(f, 10, real(p.x));
        group(f, 20, real(p.y));
        group(f, 30, real(p.z));
        group(f, 41, real(p.w));
    }
    group(f, 0, "ENDSEC");
    group(f, 0, "EOF");
}

// Throws when the two outputs are the same file.
void refuse_same_output(const std::string &gcode, const std::string &dxf) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const bool same = fs::weakly_canonical(fs::absolute(gcode, ec), ec) ==
                      fs::weakly_canonical(fs::absolute(dxf, ec), ec);
    if (same || gcode == dxf)
        throw tool_failure("--gcode and --dxf name the same file (" + gcode + ")");
}

const char *const DESCRIPTION =
    "Writes the outline of a machined plate, 120 x 80 mm with corners of radius 10 mm and a\n"
    "slot 20 mm wide and 15 mm deep in its top edge, as one clamped rational NURBS curve of\n"
    "degree 2: exact quarter circles at the corners (middle weight sqrt(2)/2), straight edges\n"
    "as single pieces, real corners in the slot. The same curve is written as a G-code\n"
    "program (one G06.2 block sequence, rank 3) and as a DXF drawing (one SPLINE), with every\n"
    "value printed so that it reads back exactly (nurbs_import takes either).";

const char *const FOOTER =
    "Both files are written under temporary names and renamed when complete; --gcode and\n"
    "--dxf may not name the same file.";

} // namespace

int main(int argc, char **argv) {
    std::string gcode = "part_outline.ngc", dxf = "part_outline.dxf";
    return tool_main(
        argc, argv, "make_part", DESCRIPTION, with_outputs_help(FOOTER),
        [&](CLI::App &app) {
            app.add_option("--gcode", gcode, "G-code program to write")
                ->type_name("FILE")
                ->capture_default_str();
            app.add_option("--dxf", dxf, "DXF drawing to write")
                ->type_name("FILE")
                ->capture_default_str();
        },
        [&] {
            refuse_same_output(gcode, dxf);
            const outline o = plate_outline();
            std::size_t at = 0;
            if (const std::string p = curve_def_problem(o.curve, &at); !p.empty())
                throw tool_failure("the outline is not a valid curve: " + p);
            remove_temporaries_on_signal();
            atomic_file g(gcode), d(dxf);
            write_gcode(g.stream(), o);
            write_dxf(d.stream(), o);
            g.commit();
            d.commit();
            std::printf("make_part: plate outline, %zu pieces, %zu control points, degree 2, "
                        "length %.6f mm -> %s, %s\n",
                        o.joints.size(), o.curve.points.size(), o.length, gcode.c_str(),
                        dxf.c_str());
            return EXIT_DONE;
        });
}
